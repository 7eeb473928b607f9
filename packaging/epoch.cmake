# Sets APPLIST_SOURCE_DATE_EPOCH: the packager's SOURCE_DATE_EPOCH if set,
# else the time of the last commit, else (in a source tarball, without git)
# the time the tarball was made from, which packaging/source-date-epoch keeps.
# Empty when there is none of these.
set(APPLIST_SOURCE_DATE_EPOCH "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(APPLIST_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
    set(APPLIST_EPOCH_FROM "the environment")
else()
    find_package(Git QUIET)
    if(GIT_FOUND)
        # Only this project's own checkout: a tarball unpacked inside some
        # other repository must not take that repository's time.
        execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-prefix
                        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                        RESULT_VARIABLE APPLIST_GIT_RESULT OUTPUT_VARIABLE APPLIST_GIT_PREFIX
                        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(APPLIST_GIT_RESULT EQUAL 0 AND APPLIST_GIT_PREFIX STREQUAL "")
            execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                            WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                            OUTPUT_VARIABLE APPLIST_SOURCE_DATE_EPOCH
                            OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
            set(APPLIST_EPOCH_FROM "the last commit")
            # A new commit changes the time: configure again.
            execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute
                                    --git-path logs/HEAD
                            WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                            OUTPUT_VARIABLE APPLIST_GIT_HEAD_LOG
                            OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
            if(EXISTS "${APPLIST_GIT_HEAD_LOG}")
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${APPLIST_GIT_HEAD_LOG})
            endif()
        endif()
    endif()
    if(APPLIST_SOURCE_DATE_EPOCH STREQUAL "" AND EXISTS ${CMAKE_SOURCE_DIR}/packaging/source-date-epoch)
        file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/source-date-epoch APPLIST_SOURCE_DATE_EPOCH
             LIMIT_COUNT 1)
        set(APPLIST_EPOCH_FROM packaging/source-date-epoch)
    endif()
endif()
if(APPLIST_SOURCE_DATE_EPOCH STREQUAL "")
    message(STATUS "SOURCE_DATE_EPOCH: none found; packages carry the time they are made")
elseif(APPLIST_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(STATUS "SOURCE_DATE_EPOCH: ${APPLIST_SOURCE_DATE_EPOCH}, from ${APPLIST_EPOCH_FROM}")
else()
    message(FATAL_ERROR "SOURCE_DATE_EPOCH from ${APPLIST_EPOCH_FROM} is "
                        "\"${APPLIST_SOURCE_DATE_EPOCH}\", not a number of seconds")
endif()
