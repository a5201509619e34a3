# Installs the desktop entries with the programs named by their absolute
# paths where they are installed (the prefix of this install, `cmake
# --install --prefix` and CPack's included): flinto.desktop, for the menus,
# and flinto-x11.desktop (hidden), by which KDE's compositor gives its fake
# input to the X11 program, which it grants only to a program an entry
# names so. Set by the install: DATA (the folder of the entries), BINDIR,
# LIBEXECDIR and DATADIR (relative to the prefix, or absolute).
foreach(dir BINDIR LIBEXECDIR DATADIR)
  if(IS_ABSOLUTE "${${dir}}")
    set(${dir}_FULL "${${dir}}")
  else()
    set(${dir}_FULL "${CMAKE_INSTALL_PREFIX}/${${dir}}")
  endif()
endforeach()
set(destination "$ENV{DESTDIR}${DATADIR_FULL}/applications")
file(MAKE_DIRECTORY "${destination}")
foreach(name flinto flinto-x11)
  file(READ "${DATA}/${name}.desktop" entry)
  string(REPLACE "Exec=/usr/bin/flinto" "Exec=${BINDIR_FULL}/flinto" entry
         "${entry}")
  string(REPLACE "Exec=/usr/libexec/flinto/"
                 "Exec=${LIBEXECDIR_FULL}/flinto/" entry "${entry}")
  file(WRITE "${destination}/${name}.desktop" "${entry}")
  message(STATUS "Installing: ${destination}/${name}.desktop")
endforeach()
