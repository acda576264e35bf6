#pragma once

#include "outside/IProductInfo.h"

// The product's paths from TS6_INSTALL_PATH, TS6_DATA_PATH and TS6_SHARED_PATH, and for any that
// is unset from product.ini (section of the product code) in $XDG_CONFIG_HOME/Norvale/<product>/
// or /etc/xdg/Norvale/<product>/, a file of at most 1 MB that is only read. Host paths are turned
// into Windows-style ones.
class EnvProductInfo final : public IProductInfo
{
public:
    bool setProduct(const QString& product) override;
    bool SharedPath(QString& path) override;
    bool InstallPath(QString& path) override;
    bool refresh() override;
    bool DataPath(QString& path) override;
    QString lastError() const override { return m_lastError; }

private:
    QString m_product;
    QString m_install;
    QString m_data;
    QString m_shared;
    QString m_lastError;
};
