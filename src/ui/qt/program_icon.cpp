// The program's icon from the resources.
#include "program_icon.h"

namespace quillbeck::qtui {

QIcon ProgramIcon() {
  QIcon icon(QStringLiteral(":/quillbeck/quillbeck.ico"));
  icon.addFile(QStringLiteral(":/quillbeck/quillbeck.png"), QSize(256, 256));
  return icon;
}

}  // namespace quillbeck::qtui
