# Writes the man page (section 1) of one program from what the program itself
# prints for --help and --version, so that no tool beyond CMake is needed:
#   cmake -DPROGRAM=path -DNAME=name -DSUMMARY=text -DSEE_ALSO=a,b,c -DPAGE=out.1 -P man_page.cmake
# The usage lines at the head of --help become the SYNOPSIS, the rest the
# DESCRIPTION, both kept line for line as the program lays them out.

cmake_minimum_required(VERSION 3.20)

foreach(input PROGRAM NAME SUMMARY PAGE)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "man_page.cmake: -D${input}=... is missing")
  endif()
endforeach()

function(ask option result)
  execute_process(COMMAND ${PROGRAM} ${option} INPUT_FILE /dev/null OUTPUT_VARIABLE text ERROR_VARIABLE err
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "man_page.cmake: '${PROGRAM} ${option}' gave status ${status} and no text: ${err}")
  endif()
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

# Roman text for troff: a backslash printed as such, a minus sign that stays a
# minus (options copied from the page must work), no line read as a request.
function(roff text result)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

ask(--help help)
ask(--version version)
string(STRIP "${version}" version)

# The usage lines: "usage: NAME ..." and the lines below it that start with
# spaces and NAME again. Read line by line as a string, never as a CMake list:
# a help text may hold ';' and '['.
roff("${NAME}" name)
string(REGEX REPLACE "\n+$" "" rest "${help}")
string(APPEND rest "\n")
set(synopsis "")
set(description "")
set(in_usage TRUE)
while(NOT rest STREQUAL "")
  string(FIND "${rest}" "\n" end)
  string(SUBSTRING "${rest}" 0 ${end} line)
  math(EXPR end "${end} + 1")
  string(SUBSTRING "${rest}" ${end} -1 rest)
  string(REGEX REPLACE "^([Uu]sage:)? +" "" command "${line}")
  set(head "")
  set(tail "")
  if(command MATCHES "^([^ ]+)(.*)$")
    set(head "${CMAKE_MATCH_1}")
    set(tail "${CMAKE_MATCH_2}")
  endif()
  if(in_usage AND line MATCHES "^([Uu]sage:)? " AND "${head}" STREQUAL "${NAME}")
    roff("${tail}" tail)
    string(APPEND synopsis "\\fB${name}\\fR${tail}\n")
  else()
    set(in_usage FALSE)
    string(APPEND description "${line}\n")
  endif()
endwhile()
roff("${description}" description)
roff("${SUMMARY}" summary)
roff("${version}" footer)

set(see_also "")
string(REPLACE "," ";" others "${SEE_ALSO}")
list(REMOVE_ITEM others "${NAME}")
list(SORT others)
foreach(other IN LISTS others)
  roff("${other}" other)
  list(APPEND see_also "\\fB${other}\\fR(1)")
endforeach()
list(JOIN see_also ", " see_also)

string(TOUPPER "${name}" title)
set(page ".TH ${title} 1 \"\" \"${footer}\" \"User Commands\"\n.ad l\n.nh\n.SH NAME\n${name} \\- ${summary}\n")
if(NOT synopsis STREQUAL "")
  string(APPEND page ".SH SYNOPSIS\n.nf\n${synopsis}.fi\n")
endif()
string(APPEND page ".SH DESCRIPTION\n.nf\n${description}.fi\n.SH VERSION\n${footer}\n")
if(NOT see_also STREQUAL "")
  string(APPEND page ".SH SEE ALSO\n${see_also}\n")
endif()
file(WRITE "${PAGE}.part" "${page}")
file(RENAME "${PAGE}.part" "${PAGE}")
