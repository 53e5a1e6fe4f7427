# Run by CPack on its staging tree just before it packs it. The directories
# there were made with the packager's umask, which the install step cannot
# widen, and Debian wants every directory of a package 0755, as dh_fixperms
# would leave it.
file(CHMOD_RECURSE "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
