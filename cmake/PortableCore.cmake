# The core (app, watch, settings, log) must stay plain C++: no toolkit and no
# <windows.h>. quillbeck_check_portable() fails the configure step when a core
# source includes either, so the rule cannot be broken by accident.
function(quillbeck_check_portable)
  foreach(source IN LISTS ARGN)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      if(line MATCHES "<Q[A-Za-z]|<qt|windows\\.h|<winbase|<shellapi|<commctrl")
        message(FATAL_ERROR "${source} is core code and may not include a toolkit or system header: ${line}")
      endif()
    endforeach()
  endforeach()
endfunction()
