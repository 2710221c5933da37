# The Windows build makes no API documentation (see gtk-doc.m4 beside this
# file); GMime's documentation Makefile.am includes this and then adds to
# EXTRA_DIST.
EXTRA_DIST =
