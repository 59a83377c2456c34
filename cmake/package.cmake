# The Debian package, built by `make package` with the prefix /usr and the
# configuration file at /etc/vorkarc.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorka)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "vorka developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "read digital audio from CDs and CUE/BIN images; fade raw PCM; check rips")
set(CPACK_PACKAGE_DESCRIPTION
    "vorka reads the audio tracks of a CD, or of a CUE/BIN disc image, through
the SCSI pass-through and writes them as raw PCM, WAV, AIFF, AU or FLAC,
one file per track or one stream to a file or standard output.  Drive quirks come
from a configuration file matched against the drive's identity.
vorkfade puts an exact fade-in or fade-out into a raw PCM file in place.
vorkasum prints the freedb, MusicBrainz and AccurateRip IDs of a disc and the
CRC32 and AccurateRip checksums of its rip, checks them against an AccurateRip
database entry and finds the read offset of a drive.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "vorka developers")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

# The configuration file lies outside the prefix (/etc, not /usr/etc), so the
# package is staged with DESTDIR and absolute paths.
set(CPACK_SET_DESTDIR ON)

# dpkg keeps an administrator's changes to a conffile across upgrades and
# leaves it in place on remove (only purge deletes it).
set(vorka_conffiles ${PROJECT_BINARY_DIR}/debian/conffiles)
file(CONFIGURE OUTPUT ${vorka_conffiles} CONTENT "${VORKA_SYSCONFDIR}/vorkarc\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${vorka_conffiles})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
