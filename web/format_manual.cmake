# Formats the manual page as plain text for the page to link to:
#   cmake -DGROFF=groff -DPAGE=romweave.1 -DTEXT=romweave.txt -P format_manual.cmake
# Bold and underlining are left out, as in the Windows zip's romweave.txt.
execute_process(
  COMMAND ${GROFF} -man -Tascii -P-cbu ${PAGE}
  OUTPUT_FILE ${TEXT}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${TEXT})
  message(FATAL_ERROR "groff failed on ${PAGE}: ${status}")
endif()
