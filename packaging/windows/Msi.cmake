# The MSI: vantorel-<version>-win32.msi in the build folder, built by
#   cmake --build --preset windows --target msi
# from vantorel.wxs.in with Debian's wixl (package wixl). The documentation
# and the SDK headers are listed here, so the WiX source names no file twice.
find_program(VANTOREL_WIXL wixl)
find_program(VANTOREL_MSIBUILD msibuild)
if(NOT VANTOREL_WIXL OR NOT VANTOREL_MSIBUILD)
  message(STATUS "wixl or msibuild not found (Debian packages wixl, msitools): the target msi is not available")
  return()
endif()

# _vantorel_msi_files(<dir id> <component prefix> <files...>): one component
# per file, appended to the text in VANTOREL_MSI_<prefix>_XML, its id to
# VANTOREL_MSI_REFS.
# wixl takes a file's Source relative to the folder of the WiX source.
set(VANTOREL_MSI_DIR ${CMAKE_BINARY_DIR}/packaging)
macro(_vantorel_msi_files dir_id prefix)
  foreach(file ${ARGN})
    get_filename_component(name ${file} NAME)
    string(MAKE_C_IDENTIFIER "${prefix}_${name}" id)
    file(RELATIVE_PATH source ${VANTOREL_MSI_DIR} ${file})
    string(APPEND VANTOREL_MSI_${prefix}_XML
      "            <Component Id=\"${id}\" Guid=\"*\"><File Id=\"${id}\" Source=\"${source}\" KeyPath=\"yes\"/></Component>\n")
    string(APPEND VANTOREL_MSI_REFS "      <ComponentRef Id=\"${id}\"/>\n")
  endforeach()
endmacro()

set(VANTOREL_MSI_REFS "")
file(GLOB doc_pages ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
_vantorel_msi_files(DocDir DOC ${PROJECT_SOURCE_DIR}/README.md ${doc_pages})
get_property(sdk_headers GLOBAL PROPERTY VANTOREL_SDK_HEADERS)
if(NOT sdk_headers)
  message(FATAL_ERROR "the SDK's header list (global property VANTOREL_SDK_HEADERS, device/) is empty")
endif()
# The SDK keeps its include layout: <vantorel/device/X.h>, <vantorel/platform/X.h>.
set(VANTOREL_MSI_SDK_XML "")
set(sdk_dirs "")
foreach(header ${sdk_headers})
  get_filename_component(parent ${header} DIRECTORY)
  get_filename_component(folder ${parent} NAME)
  string(MAKE_C_IDENTIFIER "Sdk_${folder}" dir_id)
  if(NOT folder IN_LIST sdk_dirs)
    list(APPEND sdk_dirs ${folder})
    set(VANTOREL_MSI_SDK_${folder}_XML "")
  endif()
  _vantorel_msi_files(${dir_id} SDK_${folder} ${header})
endforeach()
foreach(folder ${sdk_dirs})
  string(MAKE_C_IDENTIFIER "Sdk_${folder}" dir_id)
  string(APPEND VANTOREL_MSI_SDK_XML "                <Directory Id=\"${dir_id}\" Name=\"${folder}\">\n"
    "${VANTOREL_MSI_SDK_${folder}_XML}                </Directory>\n")
endforeach()
set(VANTOREL_MSI_DOC_COMPONENTS "${VANTOREL_MSI_DOC_XML}")
set(VANTOREL_MSI_SDK_COMPONENTS "${VANTOREL_MSI_SDK_XML}")
set(VANTOREL_MSI_COMPONENT_REFS "${VANTOREL_MSI_REFS}")
file(RELATIVE_PATH VANTOREL_MSI_BIN ${VANTOREL_MSI_DIR} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})

# The feature choices, in both sequences (a full-UI install decides them in
# the UI sequence): after FindRelatedProducts has found the previous
# installation and AppSearch has read its choices, before costing.
set(feature_actions
  "MarkKeeping|WIX_UPGRADE_DETECTED AND NOT ADDLOCAL AND NOT REMOVE"
  "KeepDriver|KEEPINGFEATURES"
  "KeepInstrument|KEEPINGFEATURES AND PREVIOUSINSTRUMENT"
  "KeepAutostart|KEEPINGFEATURES AND PREVIOUSAUTOSTART"
  "DefaultFeatures|NOT Installed AND NOT KEEPINGFEATURES AND REMOVE AND NOT ADDLOCAL"
  "AddDriver|NOT Installed AND NOT KEEPINGFEATURES AND ADDLOCAL AND ADDLOCAL<>\"ALL\" AND NOT (ADDLOCAL >< \"Driver\")"
  "AddInstrument|NOT Installed AND NOT KEEPINGFEATURES AND ADDLOCAL AND ADDLOCAL<>\"ALL\" AND NOT (ADDLOCAL >< \"VirtualInstrument\") AND NOT (REMOVE >< \"VirtualInstrument\")")
foreach(sequence UI EXECUTE)
  if(sequence STREQUAL "UI")
    set(xml "    <InstallUISequence>\n")
  else()
    set(xml "    <InstallExecuteSequence>\n")
  endif()
  # wixl places After= of a standard action at the end: explicit numbers
  # after AppSearch (50) and before LaunchConditions (100).
  set(number 51)
  foreach(action ${feature_actions})
    string(REPLACE "|" ";" parts "${action}")
    list(GET parts 0 name)
    list(GET parts 1 condition)
    string(REPLACE "&" "&amp;" condition "${condition}")
    string(REPLACE "<" "&lt;" condition "${condition}")
    string(REPLACE ">" "&gt;" condition "${condition}")
    string(APPEND xml "      <Custom Action=\"${name}\" Sequence=\"${number}\">${condition}</Custom>\n")
    math(EXPR number "${number} + 1")
  endforeach()
  if(sequence STREQUAL "UI")
    string(APPEND xml "    </InstallUISequence>")
  else()
    string(APPEND xml "    </InstallExecuteSequence>")
  endif()
  set(VANTOREL_MSI_FEATURE_ACTIONS_${sequence} "${xml}")
endforeach()

set(VANTOREL_MSI_WXS ${VANTOREL_MSI_DIR}/vantorel.wxs)
configure_file(windows/vantorel.wxs.in ${VANTOREL_MSI_WXS} @ONLY)
set(VANTOREL_MSI ${CMAKE_BINARY_DIR}/vantorel-${PROJECT_VERSION}-win32.msi)
set(msi_programs vantorel-driver vantorelctl Vantorel_Cpp VantorelDriverCLRGlue Quarn_Cpp)
# wixl leaves the File table's Version column empty; msibuild fills it in
# for the programs and modules, so that the installer treats them as the
# versioned files they are (their version resources carry the same).
set(versioned "")
foreach(id DriverExe CtlExe InstrumentDll GlueDll QuarnDll)
  list(APPEND versioned "File='${id}'")
endforeach()
list(JOIN versioned " OR " versioned)
add_custom_command(OUTPUT ${VANTOREL_MSI}
  COMMAND ${VANTOREL_WIXL} --arch x86 -D Version=${PROJECT_VERSION} -o ${VANTOREL_MSI} ${VANTOREL_MSI_WXS}
  COMMAND ${VANTOREL_MSIBUILD} ${VANTOREL_MSI}
          -q "UPDATE File SET Version='${PROJECT_VERSION}.0' WHERE ${versioned}"
  DEPENDS ${msi_programs} ${VANTOREL_MSI_WXS} ${doc_pages} ${sdk_headers} ${PROJECT_SOURCE_DIR}/README.md
  COMMENT "Building vantorel-${PROJECT_VERSION}-win32.msi"
  VERBATIM)
add_custom_target(msi DEPENDS ${VANTOREL_MSI})

# Tests of the installer (label "msi", run by the test command after the
# target msi): its tables always; a silent install, a session from the
# installed driver, an upgrade and a removal where 32-bit Wine runs.
if(VANTOREL_BUILD_TESTS)
  set(msi_test ${PROJECT_SOURCE_DIR}/tests/packaging/msi_test.sh)
  add_test(NAME packaging.msi.tables
    COMMAND bash ${msi_test} tables ${VANTOREL_MSI} ${VANTOREL_MSI_WXS} ${PROJECT_VERSION}
            ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  add_test(NAME packaging.msi.install
    COMMAND bash ${msi_test} install ${VANTOREL_MSI} ${VANTOREL_MSI_WXS} ${PROJECT_VERSION})
  set_tests_properties(packaging.msi.tables packaging.msi.install PROPERTIES LABELS msi TIMEOUT 900)
  set_tests_properties(packaging.msi.install PROPERTIES RESOURCE_LOCK port8889 SKIP_RETURN_CODE 77)
endif()
