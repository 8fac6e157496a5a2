# cmake -DPAGE=help.html -DSTYLE=help.css -DOUTPUT=kv2.LANG.dat -P InlineHelpStyle.cmake
# Writes the help page with the shared style sheet put in place of @HELP_STYLE@, so the installed
# help is one self-contained file per language while both languages share one style.
file(READ ${PAGE} page)
file(READ ${STYLE} style)
string(FIND "${page}" "@HELP_STYLE@" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${PAGE}: no @HELP_STYLE@ marker for the style sheet")
endif()
string(REPLACE "@HELP_STYLE@" "${style}" page "${page}")
file(WRITE ${OUTPUT}.tmp "${page}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
