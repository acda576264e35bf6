# Flags shared by every target of the project.
add_library(ts6_common INTERFACE)
target_compile_options(ts6_common INTERFACE -Wall -Wextra -Wpedantic)
if(TS6_WERROR)
  target_compile_options(ts6_common INTERFACE -Werror)
  target_compile_definitions(ts6_common INTERFACE _GLIBCXX_ASSERTIONS)
endif()
target_compile_definitions(ts6_common INTERFACE
  QT_NO_KEYWORDS QT_NO_CAST_TO_ASCII
  TS6_VERSION="${PROJECT_VERSION}"
  TS6_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  TS6_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  TS6_VERSION_PATCH=${PROJECT_VERSION_PATCH}
  TS6_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})
