# Copies the source tree's resources/ (when it exists) into the build tree's resource folder.
if(EXISTS "${SOURCE}")
  file(COPY "${SOURCE}/" DESTINATION "${DESTINATION}")
endif()
