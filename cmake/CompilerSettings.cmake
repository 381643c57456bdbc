# One INTERFACE target carries every compile setting, so each library and test links the same flags.
add_library(parlo_settings INTERFACE)
target_compile_features(parlo_settings INTERFACE cxx_std_20)
target_compile_options(parlo_settings INTERFACE -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor)
if(PARLO_WARNINGS_AS_ERRORS)
  target_compile_options(parlo_settings INTERFACE -Werror)
endif()
target_compile_definitions(parlo_settings INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CONTEXTLESS_CONNECT
  QT_NO_KEYWORDS
  QT_USE_QSTRINGBUILDER
  MELLO_PARLO_SERVICE_URL_DEFAULT="${MELLO_PARLO_SERVICE_URL}")
