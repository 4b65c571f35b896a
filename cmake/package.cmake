# What the installed program brings besides its executables, desktop entry and completion (whose
# install rules sit in their own folders): the manual pages and the package documents; then the Debian
# package, made from the normal build with "cpack -G DEB" in the build folder. The package installs
# under /usr whatever CMAKE_INSTALL_PREFIX says, and takes everything the install rules install.

# tonvik_gzip(SOURCE OUTPUT): OUTPUT is SOURCE compressed at build time, as Debian keeps manual pages
# and changelogs; -n leaves the name and time out, so that two builds give the same bytes.
find_program(TONVIK_GZIP gzip REQUIRED)
set(compressed_files)
function(tonvik_gzip source output)
  get_filename_component(folder ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${TONVIK_GZIP} -9 -n -c ${source} > ${output}
    DEPENDS ${source})
  set(compressed_files ${compressed_files} ${output} PARENT_SCOPE)
endfunction()

# Manual pages: roff sources in docs/man, the window program's when it is built.
set(man_pages tonvik-mml.1)
if(TARGET tonvik)
  list(APPEND man_pages tonvik.1)
endif()
foreach(page ${man_pages})
  tonvik_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page} ${CMAKE_BINARY_DIR}/share/man/man1/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/share/man/man1/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The package's documents, in the folder named after the package: the copyright and the release notes
# in Debian's changelog format, newest first.
set(TONVIK_PACKAGE_NAME tonvik)
set(package_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${TONVIK_PACKAGE_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/copyright DESTINATION ${package_doc_dir})
tonvik_gzip(${PROJECT_SOURCE_DIR}/cmake/changelog ${CMAKE_BINARY_DIR}/share/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/share/doc/changelog.gz DESTINATION ${package_doc_dir})
add_custom_target(tonvik_compressed_docs ALL DEPENDS ${compressed_files})

set(TONVIK_PACKAGE_MAINTAINER "The Tonvik developers <tonvik@example.org>"
  CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME ${TONVIK_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "The Tonvik developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MIDI keyboard on the computer keyboard, recording takes as MML")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TONVIK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries from the executables; the built-in synthesizer's General MIDI soundfont besides.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "timgm6mb-soundfont | fluid-soundfont-gm")
# Qt's own dialog texts in the user's language; fonts for the Japanese texts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-ipafont-gothic | fonts-noto-cjk")
# The synopsis line comes from the summary.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tonvik turns the computer keyboard into a MIDI keyboard. It sounds the moment
it starts, through its built-in synthesizer (FluidSynth with a General MIDI
soundfont), an ALSA sequencer port or JACK MIDI, and records what is played.
A take is written as MML (Music Macro Language) text in seven dialects, which
can be edited, played back and saved as a Standard MIDI File or as audio.
.
The tonvik-mml command compiles MML into Standard MIDI Files and WAV, FLAC or
Ogg Vorbis audio, plays it through a timer sequencer, and turns takes and
MIDI files into MML.")
# "package_source": the source tree without the repository and the build folders.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git(/|$)" "/build[^/]*/")
include(CPack)
