#include "base/Logging.h"

Q_LOGGING_CATEGORY(lcPlatform, "ts6.platform", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDiag, "ts6.diag", QtWarningMsg)
Q_LOGGING_CATEGORY(lcComponents, "ts6.components", QtWarningMsg)
Q_LOGGING_CATEGORY(lcZip, "ts6.zip", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCatalogue, "ts6.catalogue", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "ts6.settings", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPackage, "ts6.package", QtWarningMsg)
Q_LOGGING_CATEGORY(lcController, "ts6.controller", QtWarningMsg)
Q_LOGGING_CATEGORY(lcApp, "ts6.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCase, "ts6.case", QtWarningMsg)
