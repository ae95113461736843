# Pictures that the windows load as PNG are drawn as SVG in resources/images/
# and rendered with Qt at build time into a second resource collection,
# "pictures", which zevo_app embeds beside resources.qrc. Included from the
# top-level CMakeLists.txt after zevo_app is defined.

add_executable(zevo-svgtopng ${CMAKE_CURRENT_LIST_DIR}/svgtopng.cpp)
set_target_properties(zevo-svgtopng PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
target_link_libraries(zevo-svgtopng PRIVATE Qt5::Gui Qt5::Svg)

# resource path (under ":/")           drawing in resources/images/
set(ZEVO_PICTURES
  images/images/ZEVO_PID.png           pid_structure.svg
  qss/images/Logo_Quorvex.png          logo_quorvex.svg
  product_data/icon_dorvish.png        icon_dorvish.svg
  product_data/icon_dorvish_fast.png   icon_dorvish_fast.svg
  product_data/icon_Ostrel.png         icon_ostrel.svg
  product_data/icon_Pavun.png          icon_pavun.svg)

set(pictures_dir ${CMAKE_CURRENT_BINARY_DIR}/pictures)
set(pictures_qrc "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/\">\n")
while(ZEVO_PICTURES)
  list(POP_FRONT ZEVO_PICTURES resource_path drawing)
  set(svg ${CMAKE_CURRENT_LIST_DIR}/images/${drawing})
  set(png ${pictures_dir}/${resource_path})
  # The tool runs during the build, also in the sanitizer build; leaks in
  # the font libraries at its exit are no reason to fail the build.
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:zevo-svgtopng> ${svg} ${png}
    DEPENDS zevo-svgtopng ${svg}
    COMMENT "Rendering :/${resource_path}"
    VERBATIM)
  string(APPEND pictures_qrc "    <file alias=\"${resource_path}\">${png}</file>\n")
endwhile()
string(APPEND pictures_qrc "</qresource>\n</RCC>\n")
# Rewritten only when its text changes, so rcc does not rerun on every configure.
file(CONFIGURE OUTPUT ${pictures_dir}/pictures.qrc CONTENT "${pictures_qrc}")

qt5_add_resources(ZEVO_PICTURES_SOURCES ${pictures_dir}/pictures.qrc)
target_sources(zevo_app PRIVATE ${ZEVO_PICTURES_SOURCES})

# The BPM panels' electrode pictures, embedded as drawn in a collection of
# their own, "beamline".
target_sources(zevo_app PRIVATE ${CMAKE_CURRENT_LIST_DIR}/beamline.qrc)
