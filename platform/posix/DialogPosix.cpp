// No windows natively: dialog logic is driven through a test surface instead.
#include "platform/Dialog.h"

namespace plat {
int DialogBoxParam(int, IDialogHandler&) { return -1; }
bool SaveWindowPicture(void*, const std::string&) { return false; }
}  // namespace plat
