# The program's resources: the English translation, built by lrelease from its empty source at
# build time, the Raleway fonts with their licence (SIL Open Font License, kept in fonts/ as
# published in @expo-google-fonts/raleway 0.4.2), and everything under files/.
find_program(LRELEASE_EXECUTABLE NAMES lrelease lrelease-qt5
    HINTS "${_qt5Core_install_prefix}/bin" /usr/lib/qt5/bin REQUIRED)

set(_resource_dir "${CMAKE_CURRENT_BINARY_DIR}/resources")
set(_english_qm "${_resource_dir}/english.qm")
add_custom_command(OUTPUT "${_english_qm}"
    COMMAND "${LRELEASE_EXECUTABLE}" -silent
            "${CMAKE_CURRENT_SOURCE_DIR}/resources/translations/english.ts" -qm "${_english_qm}"
    DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/resources/translations/english.ts"
    VERBATIM)

set(_qrc_entries "    <file alias=\"translations/english.qm\">${_english_qm}</file>\n")
set(_fonts
    "Raleway_500Medium.ttf=fonts/Raleway-Medium.ttf"
    "Raleway_700Bold.ttf=fonts/Raleway-Bold.ttf"
    "LICENSE_FONT=fonts/LICENSE_FONT")
foreach(_font IN LISTS _fonts)
    string(REPLACE "=" ";" _pair "${_font}")
    list(GET _pair 0 _file)
    list(GET _pair 1 _alias)
    string(APPEND _qrc_entries
        "    <file alias=\"${_alias}\">${CMAKE_CURRENT_SOURCE_DIR}/resources/fonts/${_file}</file>\n")
endforeach()

# The program's icon, for its windows.
string(APPEND _qrc_entries "    <file alias=\"velkora.svg\">${CMAKE_CURRENT_SOURCE_DIR}/resources/desktop/io.github.velkora.Velkora.svg</file>\n")

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
