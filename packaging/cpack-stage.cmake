# Run by cpack on the staged files of each package, before it packs them.

# The source tarball keeps the time its packages are stamped with, for
# builds from it where there is no git.
if(CPACK_PACKAGE_FILE_NAME STREQUAL CPACK_SOURCE_PACKAGE_FILE_NAME
   AND DEFINED ENV{SOURCE_DATE_EPOCH})
    file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/packaging/source-date-epoch"
         "$ENV{SOURCE_DATE_EPOCH}\n")
endif()

# Modes as Debian wants them, whatever the umask was when the files were
# checked out or installed: 0755 for directories and programs, 0644 for the
# rest (what dh_fixperms does for a Debian package).
execute_process(COMMAND chmod -R u=rwX,go=rX "${CPACK_TEMPORARY_DIRECTORY}"
                COMMAND_ERROR_IS_FATAL ANY)
