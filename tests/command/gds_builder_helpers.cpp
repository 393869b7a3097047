// The GDSII file builder of the reader tests (tests/formats), compiled into
// the command tests as well: they load small hand-made layouts through the
// API's loading commands.
#include "formats/gds_writer_helpers.cpp"  // NOLINT(bugprone-suspicious-include)
