# Writes the manual page of the program from what it says about itself: help2man turns
# "velkora --help" and "--version" into the page, and the named commands of "--command-help"
# become a section of their own.
#   cmake -DPROGRAM=... -DHELP2MAN=... -DWORK_DIR=... -DOUTPUT=... -P manpage.cmake

file(MAKE_DIRECTORY "${WORK_DIR}/runtime" "${WORK_DIR}/state")
file(CHMOD "${WORK_DIR}/runtime" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
# Settings, log and sockets of this run stay in the build tree, away from the user's own.
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{XDG_RUNTIME_DIR} "${WORK_DIR}/runtime")
set(ENV{XDG_STATE_HOME} "${WORK_DIR}/state")
# The command list is logged: bare messages, without the start-up lines.
set(ENV{QT_MESSAGE_PATTERN} "%{message}")
set(ENV{QT_LOGGING_RULES} "*.debug=false")
execute_process(
    COMMAND "${PROGRAM}" --settings "${WORK_DIR}/Velkora.ini" --command-help
    OUTPUT_VARIABLE commands
    ERROR_VARIABLE errors
    RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR commands STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --command-help failed (${status}): ${errors}")
endif()

# roff: a line starting with a dot or quote is a request, and backslashes escape.
string(REPLACE "\\" "\\e" commands "${commands}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" commands "${commands}")
file(WRITE "${WORK_DIR}/sections.h2m" "[NAMED COMMANDS]
Scripts run these with \\fB\\-c\\fR \"name;argument;...\", one \\fB\\-c\\fR for each.
.PP
.nf
${commands}
.fi
[FILES]
.TP
.I ~/.config/Velkora.ini
The settings, unless a \\fBVelkora.ini\\fR lies beside the program or \\fB\\-\\-settings\\fR
names another file.
.TP
.I $XDG_STATE_HOME/velkora/autosave
Autosaves of boards that have no file yet.
")

execute_process(
    COMMAND "${HELP2MAN}" --no-info --section=1
        "--name=reference-image board"
        "--include=${WORK_DIR}/sections.h2m"
        "--output=${OUTPUT}"
        "${PROGRAM}"
    RESULT_VARIABLE status
    ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man failed: ${errors}")
endif()
