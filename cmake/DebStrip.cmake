# Run by CPack on the staged files before it packs them: takes out of the program the sections
# that a stripped Debian binary never carries (compiler notes), as Debian's own packaging does.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
list(FILTER staged INCLUDE REGEX "/usr/bin/[^/]+$")
foreach(program IN LISTS staged)
    execute_process(COMMAND strip --remove-section=.comment --remove-section=.note "${program}"
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()
