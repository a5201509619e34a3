# Installs the desktop entry with the program named by its absolute path
# where it is installed (the prefix of this install, `cmake --install
# --prefix` and CPack's included): KDE's compositor gives its fake input
# only to the program an entry names so. Set by the install: SOURCE (the
# entry), BINDIR and DATADIR (relative to the prefix, or absolute).
foreach(dir BINDIR DATADIR)
  if(IS_ABSOLUTE "${${dir}}")
    set(${dir}_FULL "${${dir}}")
  else()
    set(${dir}_FULL "${CMAKE_INSTALL_PREFIX}/${${dir}}")
  endif()
endforeach()
file(READ "${SOURCE}" entry)
string(REPLACE "Exec=/usr/bin/flinto" "Exec=${BINDIR_FULL}/flinto" entry
       "${entry}")
set(destination "$ENV{DESTDIR}${DATADIR_FULL}/applications")
file(MAKE_DIRECTORY "${destination}")
file(WRITE "${destination}/flinto.desktop" "${entry}")
message(STATUS "Installing: ${destination}/flinto.desktop")
