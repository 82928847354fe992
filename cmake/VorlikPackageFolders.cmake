# Run by CPack once the package's files are staged and before it packs them: every folder is
# made rwxr-xr-x. The install creates folders with the packager's umask (under umask 077 they
# would reach users' machines as drwx------, and /usr/share/vorlik-desktop would be unreadable);
# the files' own modes come from the install rules.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
    file(CHMOD "${path}" DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
