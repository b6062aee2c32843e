#include "startatlogin.h"

#include <QtGlobal>

namespace StartAtLogin {

void setEnabled(bool enable)
{
    Q_UNUSED(enable);
}

} // namespace StartAtLogin
