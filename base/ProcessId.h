#pragma once
// The id of the running process, for names of temporary files that must not collide between copies.

namespace umbra {

long long currentProcessId();

}  // namespace umbra
