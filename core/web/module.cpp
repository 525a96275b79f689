// SPDX-License-Identifier: GPL-3.0-or-later
// The web face as a module the logger loads for --listen.
#include "core/web/webserver.h"

#include <QCoreApplication>
#include <QLoggingCategory>

extern "C" Q_DECL_EXPORT quelmar::WebFace *quelmar_web_face(const quelmar::WebConfig &config)
{
    static_assert(std::is_same_v<decltype(&quelmar_web_face), quelmar::WebEntry>);
    // Qt's server builds a TLS configuration it never uses here, and would
    // load OpenSSL (4 MiB) through Qt's plugins for it. The logger uses no
    // plugin at all, and serves plain HTTP: Qt's warnings that TLS is
    // missing would mislead.
    QCoreApplication::setLibraryPaths({});
    QLoggingCategory::setFilterRules(QStringLiteral("qt.network.ssl.warning=false"));
    return new quelmar::WebServer(config);
}
