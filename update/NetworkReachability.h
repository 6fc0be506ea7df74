#pragma once
// Whether the machine has a network link, as far as the platform can tell.

namespace umbra {

// Loads the platform's reachability information once and follows its changes. Call on the
// user-interface thread: the information object lives there, workers only read a copied value.
void watchNetworkReachability();

// False only when the platform reports no link; a link is assumed where nothing is known.
bool networkLinkPresent();

}  // namespace umbra
