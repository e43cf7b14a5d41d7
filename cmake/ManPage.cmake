# Writes a gzipped manual page for a program from its --help (cmake -P).
#   HELP2MAN  help2man        PROGRAM  the program to run     NAME  one line about it
#   VERSION   its version     OUT      the .1.gz to write     COMMANDS  subcommands whose --help is added
#   GZIP      gzip
set(include_file ${OUT}.include)
set(text "")
if(COMMANDS)
  string(APPEND text "[COMMANDS]\n")
  foreach(command ${COMMANDS})
    # Some commands print their usage on stderr.
    execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE help ERROR_VARIABLE help
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${PROGRAM} ${command} --help failed: ${help}")
    endif()
    # roff: a backslash is written \e; a line must not begin with a control character.
    string(REPLACE "\\" "\\e" help "${help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
    string(APPEND text ".SS ${command}\n.nf\n${help}.fi\n")
  endforeach()
endif()
set(include_option "")
if(text)
  file(WRITE ${include_file} "${text}")
  set(include_option --include=${include_file})
endif()
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${VERSION} --name=${NAME}
                        ${include_option} --output=${OUT}.tmp ${PROGRAM}
                RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man ${PROGRAM}: ${error}")
endif()
execute_process(COMMAND ${GZIP} -9n -c ${OUT}.tmp OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
file(REMOVE ${OUT}.tmp)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${OUT} failed")
endif()
