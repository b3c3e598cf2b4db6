# What an installation holds besides the programs: the desktop entry under the program's
# application id, its icon (the SVG drawn for it, and PNGs rendered from it at build time), the
# board file type with a thumbnailer for it, the AppStream metainfo and the manual page.
# Included from src/CMakeLists.txt, after the programs.
set(VELKORA_APP_ID "io.github.velkora.Velkora")
set(_desktop "${CMAKE_CURRENT_SOURCE_DIR}/resources/desktop")
set(_generated "${CMAKE_CURRENT_BINARY_DIR}/desktop")

# The program names itself by the id its desktop entry carries.
target_compile_definitions(velkora_core PRIVATE VELKORA_APP_ID="${VELKORA_APP_ID}")

add_executable(velkora_render_icon app/iconrendermain.cpp)
target_link_libraries(velkora_render_icon PRIVATE velkora_options Qt5::Gui Qt5::Svg)
set(VELKORA_ICON_SIZES 16 22 24 32 48 64 128 256 512)
set(_icons)
foreach(_size IN LISTS VELKORA_ICON_SIZES)
    list(APPEND _icons "${_generated}/icons/${_size}x${_size}/apps/${VELKORA_APP_ID}.png")
endforeach()
add_custom_command(OUTPUT ${_icons}
    COMMAND velkora_render_icon "${_desktop}/${VELKORA_APP_ID}.svg" "${_generated}/icons"
        "${VELKORA_APP_ID}" ${VELKORA_ICON_SIZES}
    DEPENDS velkora_render_icon "${_desktop}/${VELKORA_APP_ID}.svg"
    VERBATIM)

find_program(HELP2MAN_EXECUTABLE help2man REQUIRED)
set(_manpage "${_generated}/velkora.1")
add_custom_command(OUTPUT "${_manpage}"
    COMMAND "${CMAKE_COMMAND}" "-DPROGRAM=$<TARGET_FILE:velkora>"
        "-DHELP2MAN=${HELP2MAN_EXECUTABLE}" "-DWORK_DIR=${_generated}/manpage"
        "-DOUTPUT=${_manpage}" -P "${_desktop}/manpage.cmake"
    DEPENDS velkora "${_desktop}/manpage.cmake"
    VERBATIM)
add_custom_target(desktop_files ALL DEPENDS ${_icons} "${_manpage}")

# The release date comes from SOURCE_DATE_EPOCH when set, so that packages build reproducibly.
string(TIMESTAMP VELKORA_RELEASE_DATE "%Y-%m-%d" UTC)
configure_file("${_desktop}/${VELKORA_APP_ID}.metainfo.xml"
    "${_generated}/${VELKORA_APP_ID}.metainfo.xml" @ONLY)

install(TARGETS velkora velkora-thumbnailer RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS velkora-decoder RUNTIME DESTINATION "${VELKORA_HELPER_DIR}")
install(FILES "${_desktop}/${VELKORA_APP_ID}.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_generated}/${VELKORA_APP_ID}.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${_desktop}/${VELKORA_APP_ID}.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/mime/packages")
install(FILES "${_desktop}/velkora.thumbnailer" DESTINATION "${CMAKE_INSTALL_DATADIR}/thumbnailers")
install(FILES "${_desktop}/${VELKORA_APP_ID}.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(DIRECTORY "${_generated}/icons/" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor")
install(FILES "${_manpage}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
