# cmake -DPAGE=man/romweave.1 -DVERSION=X.Y.Z -P man_page_version.cmake
# fails unless the page names the program's version, and no other, wherever
# it says "romweave" and a version.
file(READ ${PAGE} page)
string(REGEX MATCHALL "romweave [0-9]+\\.[0-9]+\\.[0-9]+" named "${page}")
if(NOT named)
  message(FATAL_ERROR "${PAGE} names no version")
endif()
foreach(name IN LISTS named)
  if(NOT name STREQUAL "romweave ${VERSION}")
    message(FATAL_ERROR "${PAGE} says \"${name}\", the project is ${VERSION}")
  endif()
endforeach()
