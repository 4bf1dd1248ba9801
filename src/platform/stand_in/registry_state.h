#pragma once

namespace kvd::stand_in {

// Empties the registry and clears its failures; part of Reset.
void ResetRegistry();

}  // namespace kvd::stand_in
