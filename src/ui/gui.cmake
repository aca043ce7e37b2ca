# The graphical front end: the manager behind the QML window, the StatusBar type and the fonts.
# Included by src/ui/CMakeLists.txt; the pages, components and images are in qml/qml.qrc.
find_package(Qt5 REQUIRED COMPONENTS Gui Qml Quick)

target_sources(roamnode_ui PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/gui/PXGuiManager.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/gui/StatusBar.cpp
)
target_link_libraries(roamnode_ui PUBLIC Qt5::Gui Qt5::Qml Qt5::Quick)

# Open Sans in ten styles, compiled into the resources under fonts/. The font files come from
# Debian's fonts-open-sans and are not kept in the repository: they are copied next to a
# generated resource file when the build is configured, and again whenever one changes.
set(ROAMNODE_FONT_DIR /usr/share/fonts/truetype/open-sans CACHE PATH
    "Folder holding the OpenSans-*.ttf files compiled into the window")
set(roamnode_font_styles Regular Italic Light LightItalic Semibold SemiboldItalic
    Bold BoldItalic ExtraBold ExtraBoldItalic)
set(roamnode_fonts_found TRUE)
foreach(style ${roamnode_font_styles})
    if(NOT EXISTS ${ROAMNODE_FONT_DIR}/OpenSans-${style}.ttf)
        set(roamnode_fonts_found FALSE)
    endif()
endforeach()

if(roamnode_fonts_found)
    set(roamnode_font_out ${CMAKE_CURRENT_BINARY_DIR}/fonts)
    set(roamnode_font_entries "")
    foreach(style ${roamnode_font_styles})
        configure_file(${ROAMNODE_FONT_DIR}/OpenSans-${style}.ttf
                       ${roamnode_font_out}/OpenSans-${style}.ttf COPYONLY)
        string(APPEND roamnode_font_entries
               "        <file alias=\"fonts/OpenSans-${style}.ttf\">fonts/OpenSans-${style}.ttf</file>\n")
    endforeach()
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/gui/fonts.qrc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/fonts.qrc @ONLY)
    target_sources(roamnode_ui PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/fonts.qrc)
    target_compile_definitions(roamnode_ui PRIVATE ROAMNODE_HAVE_FONTS)
else()
    message(WARNING "Open Sans not found in ${ROAMNODE_FONT_DIR} (Debian package fonts-open-sans): "
                    "the window falls back to the default font")
endif()
