# Compiler and linker flags for every target, in one place.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                    -ffunction-sections -fdata-sections)

if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE MinSizeRel CACHE STRING "" FORCE)
endif()

# Static runtime: the executable needs no DLL beside it.
add_link_options(-static -Wl,--gc-sections)
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL "-s")

# Reproducible output: the same sources give the same executable in any folder
# at any time (release/check_reproducible.sh). No build folder in the binary, no
# link time stamp.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.;-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")
add_link_options(-Wl,--no-insert-timestamp)
