#pragma once

#include <QLoggingCategory>

// One category of developer diagnostics per layer, apart from the trace the program keeps for
// support: off by default, switched on with QT_LOGGING_RULES (for example "ts6.zip.debug=true" or
// "ts6.*.debug=true"), written to standard error.
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)   // ts6.platform: the host layer
Q_DECLARE_LOGGING_CATEGORY(lcDiag)       // ts6.diag: the trace and the error traps
Q_DECLARE_LOGGING_CATEGORY(lcComponents) // ts6.components: settings store, templates, help
Q_DECLARE_LOGGING_CATEGORY(lcZip)        // ts6.zip: the package writer and the maskers
Q_DECLARE_LOGGING_CATEGORY(lcCatalogue)  // ts6.catalogue: template loading and the grid's rows
Q_DECLARE_LOGGING_CATEGORY(lcSettings)   // ts6.settings: AppConfig and window placement
Q_DECLARE_LOGGING_CATEGORY(lcPackage)    // ts6.package: the build of a package
Q_DECLARE_LOGGING_CATEGORY(lcController) // ts6.controller: the main window's controller
Q_DECLARE_LOGGING_CATEGORY(lcApp)        // ts6.app: the windows and the start
Q_DECLARE_LOGGING_CATEGORY(lcCase)       // ts6.case: collecting a case over ssh
