#pragma once
// The background update check: one run reads the installed version from the settings, applies the
// start-up throttle, fetches the first line of the version page and offers the home page when the
// published number is larger. Runs happen on worker threads nobody waits for; the back end shows
// nothing itself but asks the installed prompt.
#include <QString>

#include <atomic>
#include <functional>

namespace umbra {

// Set by the user-interface thread when the user asked for the check; read and cleared by workers.
extern std::atomic<bool> g_interactiveCheck;

// One run of the check on the calling thread (a worker). Needs a QCoreApplication to exist.
void runUpdateCheck();

// Starts one detached worker running runUpdateCheck; call on the user-interface thread.
void startUpdateWorker();

// The update button: marks the check as asked for, then starts another worker.
void onCheckUpdateRequested();

// What a message of the check is: the offer of a newer version asks Yes or No; a result (nothing
// newer) and a failure (no network, no answer, no version page) have an OK button alone.
enum class PromptKind { Offer, Result, Failure };

// Shows `text` to the user, the offer as a Yes/No question (returns true for Yes), anything else as
// a message with an OK button (returns false). Called on a worker thread, which waits for the
// answer. Without a prompt nothing is shown and the answer is No.
using UpdatePrompt = std::function<bool(const QString& text, PromptKind kind)>;
void setUpdatePrompt(UpdatePrompt prompt);

// Opens the maker's home page in the desktop's browser. Called on a worker thread.
using OpenHomePage = std::function<void(const QString& url)>;
void setHomePageOpener(OpenHomePage opener);

// Tells whether the machine has a network link. The default asks the platform's reachability
// information and assumes a link where it is unknown; an empty function restores the default.
using ConnectionProbe = std::function<bool()>;
void setConnectionProbe(ConnectionProbe probe);

// The texts of the check, exactly as the user sees them.
inline constexpr const char* kUpdateCaption = "Umbradisc update";
// %1: the published version, %2: the installed one.
inline constexpr const char* kUpdateOfferText =
    "There is a new version or a new patch of Umbradisc: version %1 is published, and this is version %2.\n"
    "Open the download page?";
inline constexpr const char* kCurrentVersionText = "The current version is the newest version.";
// Only when the system says it has no network.
inline constexpr const char* kNoLinkText = "There is no link to the internet.";
// A check on request that got no answer from the server: %1 says why.
inline constexpr const char* kUnreachableText = "Could not reach the update server: %1.";
// A check on request that got no version page: %1 says why.
inline constexpr const char* kCheckFailedText = "The check for a new version failed: %1.";
// No browser took the download page: %1 is its address, for the user to copy.
inline constexpr const char* kNoBrowserText =
    "No web browser could be opened for the download page. Its address, to copy into a browser:\n\n%1";

}  // namespace umbra
