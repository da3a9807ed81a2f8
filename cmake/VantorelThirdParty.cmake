# Third-party pieces that Debian ships as headers or sources. The cross build
# must not see the host's /usr/include, so header-only libraries are copied
# into an include folder of the build.
set(VANTOREL_TP_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${VANTOREL_TP_INCLUDE})

foreach(hdr tinyexr.h stb/stb_image_write.h)
  if(EXISTS /usr/include/${hdr})
    get_filename_component(dir ${hdr} DIRECTORY)
    file(COPY /usr/include/${hdr} DESTINATION ${VANTOREL_TP_INCLUDE}/${dir})
  endif()
endforeach()
if(EXISTS /usr/include/utf8cpp)
  file(COPY /usr/include/utf8cpp DESTINATION ${VANTOREL_TP_INCLUDE})
endif()
foreach(dir CLI nlohmann rapidxml)
  if(EXISTS /usr/include/${dir})
    file(COPY /usr/include/${dir} DESTINATION ${VANTOREL_TP_INCLUDE})
  endif()
endforeach()

add_library(vantorel_thirdparty INTERFACE)
target_include_directories(vantorel_thirdparty SYSTEM INTERFACE ${VANTOREL_TP_INCLUDE})

# The Windows binaries must need no extra DLLs: link mingw's static libz.a
# rather than the import library of a zlib1.dll that is not shipped.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)
