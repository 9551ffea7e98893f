# Shared by the two projects built for the Linux host with clang, outside the
# MinGW toolchain (tests/native and release/): the host's warnings, and the
# sources that include no Windows header, with the host's own text conversion
# in place of files/text.cpp. QV_SOURCE_DIR is the repository's root.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

set(QV_HOST_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)

set(QV_PLATFORM_FREE_SOURCES
  ${QV_SOURCE_DIR}/files/manifest_format.cpp
  ${QV_SOURCE_DIR}/files/segment_format.cpp
  ${QV_SOURCE_DIR}/files/text_format.cpp
  ${QV_SOURCE_DIR}/files/error_text_format.cpp
  ${QV_SOURCE_DIR}/files/layout_names.cpp
  ${QV_SOURCE_DIR}/files/signature_format.cpp
  ${QV_SOURCE_DIR}/files/pe_format.cpp
  ${QV_SOURCE_DIR}/files/image_version_format.cpp
  ${QV_SOURCE_DIR}/net/download_url_names.cpp
  ${QV_SOURCE_DIR}/ui/geometry.cpp
  ${QV_SOURCE_DIR}/ui/window_model.cpp
  ${QV_SOURCE_DIR}/ui/accessible_tree.cpp
  ${QV_SOURCE_DIR}/ui/palette.cpp
  ${QV_SOURCE_DIR}/ui/paint_list.cpp
  ${QV_SOURCE_DIR}/ui/system_check.cpp
  ${QV_SOURCE_DIR}/ui/display_state.cpp
  ${QV_SOURCE_DIR}/report/progress.cpp
  ${QV_SOURCE_DIR}/pipeline/steps.cpp
  ${QV_SOURCE_DIR}/pipeline/manifest_address.cpp
  ${QV_SOURCE_DIR}/files/portable_text.cpp
)
