# The core (app, watch, settings, log), the seam headers and the window's
# description must stay plain C++: no toolkit, no system header, and nothing
# of the layers that stand beside or above them. quillbeck_check_portable()
# fails the configure step when such a file includes
#   - a toolkit or Windows header (<Q...>, <qt...>, <windows.h>, ...);
#   - a system's implementation of the seams ("platform/posix/...",
#     "platform/win32/...");
#   - a front end ("ui/qt/...", "ui/win32/...");
# so the layers cannot be crossed by accident.
function(quillbeck_check_portable)
  set(forbidden_toolkit "<Q[A-Za-z]|<qt|[<\"/]windows\\.h|<winbase|<shellapi|<commctrl|<winuser|<X11/")
  set(forbidden_layers "\"(platform/(posix|win32)|ui/(qt|win32))/")
  foreach(source IN LISTS ARGN)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      if(line MATCHES "${forbidden_toolkit}")
        message(FATAL_ERROR "${source} is core code and may not include a toolkit or system header: ${line}")
      endif()
      if(line MATCHES "${forbidden_layers}")
        message(FATAL_ERROR "${source} is core code and may not include a system's seams or a front end: ${line}")
      endif()
    endforeach()
  endforeach()
endfunction()
