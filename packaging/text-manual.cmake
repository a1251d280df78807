# The manual page as a plain text file for Windows users:
#   cmake -DMANDOC=... -DPAGE=sondrel.1 -DOUTPUT=sondrel.txt -P text-manual.cmake
# mandoc marks bold and underlined letters by overstriking them with a
# backspace, which a text editor would show; only the letters are kept, with
# Windows line ends.
execute_process(COMMAND "${MANDOC}" -T ascii -O width=78 "${PAGE}"
                OUTPUT_VARIABLE text RESULT_VARIABLE result)
if(result)
  message(FATAL_ERROR "mandoc cannot render ${PAGE}")
endif()
string(ASCII 8 backspace)
string(REGEX REPLACE ".${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
