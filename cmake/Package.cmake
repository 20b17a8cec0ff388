# The release package, Vestrix-<version>-win32.zip in the build directory:
#
#   cmake --build --preset win32 --target package
#
# It holds what a Windows user installs, and nothing of the tests or tools:
# VESTRIX.DLL, the panel emulator as virtual-panel/sg_vfd.dll, README.txt (the
# user's sections of README.md), the character table and the font sheets from
# docs/ (which the native build's `fontsheets` target makes), LICENSE, the
# fonts' notices and SHA256SUMS.
# Only the 32-bit Windows build makes it: Lumidor loads only the 32-bit
# plug-in, and the 64-bit build is a test build.
if(NOT (WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4))
  return()
endif()

# The files of the package, as they appear in the zip; the package test checks
# the zip against this list.
set(VESTRIX_PACKAGE_FILES
  VESTRIX.DLL virtual-panel/sg_vfd.dll README.txt CHARACTERS.txt characters-16x2.png
  characters-16x1.png LICENSE LICENSES/fonts.txt SHA256SUMS)

# The text files, with Windows line endings, lines of at most 78 columns and
# UTF-8's byte-order mark where they are not plain ASCII. README.txt is the
# Windows user's part of README.md as plain text (tools/release_texts.py):
# these sections, each with its subsections, in this order, and the package's
# real file name; the build fails when one of them is missing or a line would
# be too long for Notepad. The names of the character table and the font
# sheets here are those that the table itself names (tools/chartable.py).
set(texts ${CMAKE_BINARY_DIR}/release)
set(readme_sections
  --section "What you need on Windows"
  --section "The release package"
  --section "Installing the plug-in"
  --section "Choosing the display in Lumidor"
  --section "Characters and icons"
  --section "The virtual panel"
  --section "Trouble and messages"
  --section "Uninstalling"
  --section "Licence"
  --replace Vestrix-VERSION-win32.zip Vestrix-${PROJECT_VERSION}-win32.zip)
set(text_files ${texts}/README.txt ${texts}/CHARACTERS.txt ${texts}/LICENSE
    ${texts}/LICENSES/fonts.txt)
add_custom_command(
  OUTPUT ${text_files}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/release_texts.py
          --readme ${PROJECT_SOURCE_DIR}/README.md --out-readme ${texts}/README.txt
          --title "Vestrix ${PROJECT_VERSION}" ${readme_sections}
          --copy ${PROJECT_SOURCE_DIR}/docs/characters.txt ${texts}/CHARACTERS.txt
          --copy ${PROJECT_SOURCE_DIR}/LICENSE ${texts}/LICENSE
          --copy ${PROJECT_SOURCE_DIR}/LICENSES/fonts.txt ${texts}/LICENSES/fonts.txt
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/release_texts.py ${PROJECT_SOURCE_DIR}/README.md
          ${PROJECT_SOURCE_DIR}/docs/characters.txt ${PROJECT_SOURCE_DIR}/LICENSE
          ${PROJECT_SOURCE_DIR}/LICENSES/fonts.txt
  COMMENT "Writing README.txt, the character table and the licences of the release package"
  VERBATIM)
add_custom_target(vestrix_release_texts ALL DEPENDS ${text_files})

# The virtual panel goes out without its symbol table, as VESTRIX.DLL does;
# both are packaged exactly as built and tested.
target_link_options(vestrix_emulator PRIVATE -s)

# Everything in the package belongs to the component "release", the only one
# CPack installs; the DLLs' import libraries stay out.
install(TARGETS vestrix RUNTIME DESTINATION . COMPONENT release)
install(TARGETS vestrix_emulator RUNTIME DESTINATION virtual-panel COMPONENT release)
install(FILES ${texts}/README.txt ${texts}/CHARACTERS.txt ${texts}/LICENSE DESTINATION .
        COMPONENT release)
install(FILES ${PROJECT_SOURCE_DIR}/docs/font-small.png DESTINATION . RENAME characters-16x2.png
        COMPONENT release)
install(FILES ${PROJECT_SOURCE_DIR}/docs/font-large.png DESTINATION . RENAME characters-16x1.png
        COMPONENT release)
install(FILES ${texts}/LICENSES/fonts.txt DESTINATION LICENSES COMPONENT release)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Vestrix)
set(CPACK_PACKAGE_VENDOR "the Vestrix authors")
set(CPACK_PACKAGE_FILE_NAME "Vestrix-${PROJECT_VERSION}-win32")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Vestrix;release;/")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageChecksums.cmake)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)

if(VESTRIX_BUILD_TESTS)
  # Makes a package from the built files with CPack into a directory of its own
  # and checks its entries and checksums, every text file against the rules
  # for Notepad, README.txt also against the plug-in's fixed texts, the
  # pictures, and the version resources of its DLLs and of the bridge's, read
  # back from the files; needs no Wine.
  set(description VESTRIX_FILE_DESCRIPTION)
  add_test(NAME vestrix_release_package
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/check_package.py
                   --cpack ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
                   --dir ${CMAKE_BINARY_DIR}/package-test
                   --zip Vestrix-${PROJECT_VERSION}-win32.zip --version ${PROJECT_VERSION}
                   --texts ${PROJECT_SOURCE_DIR}/plugin/texts.cpp
                   --windres ${CMAKE_RC_COMPILER} --copyright ${VESTRIX_LEGAL_COPYRIGHT}
                   --dll VESTRIX.DLL $<TARGET_PROPERTY:vestrix,${description}>
                   --dll virtual-panel/sg_vfd.dll
                         $<TARGET_PROPERTY:vestrix_emulator,${description}>
                   --built-dll $<TARGET_FILE:vestrix_bridge>
                               $<TARGET_PROPERTY:vestrix_bridge,${description}>
                   ${VESTRIX_PACKAGE_FILES})
  set_tests_properties(vestrix_release_package PROPERTIES TIMEOUT 60)
endif()
