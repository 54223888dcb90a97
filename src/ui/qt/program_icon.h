// The program's icon, built into the executable from the generated icon
// files.
#pragma once

#include <QIcon>

namespace quillbeck::qtui {

// ProgramIcon() holds every image of the icon: the 16x16 and 32x32 ones with
// 256 colours, 48x48 and 256x256.
QIcon ProgramIcon();

}  // namespace quillbeck::qtui
