# `cmake --install` lays the program out as DCSERVO_INSTALL_LIB_DIR and
# DCSERVO_INSTALL_DATA_DIR say, with a desktop entry and an icon so that `dcservo edit` is in
# the applications menu; CPack makes a .deb of the same tree (the package preset).
install(TARGETS dcservo RUNTIME DESTINATION bin)
install(TARGETS zelkernel zelkernel_drawing dcservo_core dcservo_plugin dcservo_gui
        LIBRARY DESTINATION ${DCSERVO_INSTALL_LIB_DIR}
        NAMELINK_SKIP)
install(DIRECTORY ${DCSERVO_RESOURCE_DIR}/ DESTINATION ${DCSERVO_INSTALL_DATA_DIR}
        PATTERN desktop EXCLUDE)
install(FILES ${DCSERVO_RESOURCE_DIR}/desktop/dcservo.desktop DESTINATION share/applications)
install(FILES ${DCSERVO_RESOURCE_DIR}/desktop/dcservo.svg
        DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md DESTINATION share/doc/dcservo OPTIONAL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dcservo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "dcservo developers <dcservo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "setup and tuning of DC servo drives")
set(CPACK_PACKAGE_DESCRIPTION
    "Edits a DC servo drive's settings in engineering units while keeping the firmware's \
chip parameters in step, tunes the current, speed and position controllers, designs the \
speed-loop filters and runs the drive's tests, on a simulated drive when no drive is attached.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${DCSERVO_INSTALL_LIB_DIR})
# Qt draws text with a font that it does not depend on itself.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_STRIP_FILES ON)
include(CPack)
