# CLI11 and nlohmann-json for the cross build: Debian's header-only packages
# of the build machine. Their CMake configs lie outside the toolchain's find
# root, and they name /usr/include, which would put Linux's C headers before
# mingw-w64's; so the cross build sees their two folders alone, linked into
# the build tree.
find_path(VELQUINT_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
find_path(VELQUINT_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT VELQUINT_CLI11_INCLUDE OR NOT VELQUINT_JSON_INCLUDE)
  message(FATAL_ERROR "the Windows build of velquint needs libcli11-dev and nlohmann-json3-dev")
endif()
set(header_only ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${header_only})
file(CREATE_LINK ${VELQUINT_CLI11_INCLUDE}/CLI ${header_only}/CLI SYMBOLIC)
file(CREATE_LINK ${VELQUINT_JSON_INCLUDE}/nlohmann ${header_only}/nlohmann SYMBOLIC)
foreach(library CLI11::CLI11 nlohmann_json::nlohmann_json)
  if(NOT TARGET ${library})
    add_library(${library} INTERFACE IMPORTED)
    set_target_properties(${library} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${header_only}
                                                INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${header_only})
  endif()
endforeach()
