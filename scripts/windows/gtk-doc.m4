dnl The Windows build makes no API documentation, and Debian's gtk-doc-tools
dnl would bring a documentation tool chain only to be switched off. GMime's
dnl configure.ac asks for GTK_DOC_CHECK; this answers "no documentation" with
dnl the conditionals that gtk-doc's own macro would define.
AC_DEFUN([GTK_DOC_CHECK],
[
  enable_gtk_doc=no
  AC_SUBST([GTKDOC_CHECK], [true])
  AC_SUBST([GTKDOC_CHECK_PATH], [true])
  AC_SUBST([GTKDOC_REBASE], [true])
  AC_SUBST([GTKDOC_MKPDF], [true])
  AC_SUBST([HTML_DIR], ['${datadir}/gtk-doc/html'])
  AM_CONDITIONAL([ENABLE_GTK_DOC], [false])
  AM_CONDITIONAL([GTK_DOC_BUILD_HTML], [false])
  AM_CONDITIONAL([GTK_DOC_BUILD_PDF], [false])
  AM_CONDITIONAL([GTK_DOC_USE_LIBTOOL], [true])
  AM_CONDITIONAL([GTK_DOC_USE_REBASE], [false])
])
