// The snapshot taken on Enter.
#pragma once

namespace app {

// Once per pass: on an Enter press since the previous pass, grabs the
// Screen, saves it and shows the outcome in a notice box.
void snapshot_on_enter();

}  // namespace app
