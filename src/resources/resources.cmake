# Resources that are generated or downloaded at build time: the English translation, built by
# lrelease from its empty source, and the Raleway fonts that scripts/fetch-fonts.sh unpacks into
# the build tree (they are not kept in git). A build without the fonts still works; the program
# then warns once and keeps the default font.
find_program(LRELEASE_EXECUTABLE NAMES lrelease lrelease-qt5
    HINTS "${_qt5Core_install_prefix}/bin" /usr/lib/qt5/bin REQUIRED)

set(_resource_dir "${CMAKE_CURRENT_BINARY_DIR}/resources")
set(_english_qm "${_resource_dir}/english.qm")
add_custom_command(OUTPUT "${_english_qm}"
    COMMAND "${LRELEASE_EXECUTABLE}" -silent
            "${CMAKE_CURRENT_SOURCE_DIR}/resources/translations/english.ts" -qm "${_english_qm}"
    DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/resources/translations/english.ts"
    VERBATIM)

set(VELKORA_FONT_DIR "${CMAKE_BINARY_DIR}/fonts" CACHE PATH
    "Folder holding Raleway_500Medium.ttf and Raleway_700Bold.ttf")

set(_qrc_entries "    <file alias=\"translations/english.qm\">${_english_qm}</file>\n")
set(_fonts
    "Raleway_500Medium.ttf=fonts/Raleway-Medium.ttf"
    "Raleway_700Bold.ttf=fonts/Raleway-Bold.ttf"
    "LICENSE_FONT=fonts/LICENSE_FONT")
set(_missing_fonts)
foreach(_font IN LISTS _fonts)
    string(REPLACE "=" ";" _pair "${_font}")
    list(GET _pair 0 _file)
    list(GET _pair 1 _alias)
    if(EXISTS "${VELKORA_FONT_DIR}/${_file}")
        string(APPEND _qrc_entries "    <file alias=\"${_alias}\">${VELKORA_FONT_DIR}/${_file}</file>\n")
    else()
        list(APPEND _missing_fonts "${_file}")
    endif()
endforeach()
if(_missing_fonts)
    message(WARNING "Raleway fonts not found in ${VELKORA_FONT_DIR} (${_missing_fonts}); "
        "the program will use the default font. Run scripts/fetch-fonts.sh to get them.")
endif()

file(GLOB_RECURSE _static_resources CONFIGURE_DEPENDS
    "${CMAKE_CURRENT_SOURCE_DIR}/resources/files/*")
foreach(_file IN LISTS _static_resources)
    file(RELATIVE_PATH _alias "${CMAKE_CURRENT_SOURCE_DIR}/resources/files" "${_file}")
    string(APPEND _qrc_entries "    <file alias=\"${_alias}\">${_file}</file>\n")
endforeach()

set(_qrc "${_resource_dir}/velkora.qrc")
file(CONFIGURE OUTPUT "${_qrc}"
    CONTENT "<RCC>\n  <qresource prefix=\"/\">\n${_qrc_entries}  </qresource>\n</RCC>\n")
qt5_add_resources(VELKORA_RESOURCE_SOURCES "${_qrc}")
