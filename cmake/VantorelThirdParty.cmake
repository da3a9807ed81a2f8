# Third-party pieces that Debian ships as headers or sources. Each is looked
# up on the build host (also by the cross build) and a missing one stops the
# configure with the name of the Debian package that ships it. The cross
# build must not see the host's /usr/include, so the header-only libraries
# are copied into an include folder of the build.

# vantorel_find_host_path(<var> <Debian package> <file> [<folder>...]): sets
# the cache entry <var> to the folder that holds <file> (a path such as
# "utf8cpp/utf8.h"), searched on the build host: the default places
# natively, then the folders given and /usr/include. -D<var>=<folder> takes
# another copy.
function(vantorel_find_host_path var package file)
  find_path(${var} NAMES ${file} PATHS ${ARGN} /usr/include NO_CMAKE_FIND_ROOT_PATH
            DOC "folder holding ${file} (Debian package ${package})")
  if(NOT ${var})
    message(FATAL_ERROR
      "${file} not found. Install the Debian package ${package} (scripts/install-deps.sh "
      "installs everything the build needs), or name its folder with -D${var}=<folder>.")
  endif()
endfunction()

set(VANTOREL_TP_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${VANTOREL_TP_INCLUDE})

# <header or folder to copy>  <Debian package>  <file that must be there>
set(vantorel_header_libraries
  tinyexr.h            libtinyexr-dev    tinyexr.h
  stb/stb_image_write.h libstb-dev       stb/stb_image_write.h
  utf8cpp              libutfcpp-dev     utf8cpp/utf8.h
  CLI                  libcli11-dev      CLI/CLI.hpp
  nlohmann             nlohmann-json3-dev nlohmann/json.hpp
  rapidxml             librapidxml-dev   rapidxml/rapidxml.hpp)
while(vantorel_header_libraries)
  list(POP_FRONT vantorel_header_libraries item package file)
  string(MAKE_C_IDENTIFIER "VANTOREL_INCLUDE_${item}" var)
  string(TOUPPER ${var} var)
  vantorel_find_host_path(${var} ${package} ${file})
  get_filename_component(subdir ${item} DIRECTORY)
  file(COPY ${${var}}/${item} DESTINATION ${VANTOREL_TP_INCLUDE}/${subdir})
endwhile()

add_library(vantorel_thirdparty INTERFACE)
target_include_directories(vantorel_thirdparty SYSTEM INTERFACE ${VANTOREL_TP_INCLUDE})

# The Windows binaries must need no extra DLLs: link mingw's static libz.a
# rather than the import library of a zlib1.dll that is not shipped.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)
