#pragma once

#include "outside/Component.h"

// Where the installed product lives: install, data and shared paths, Windows-style.
class IProductInfo : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.ProductInfo";

    virtual bool setProduct(const QString& product) = 0;
    virtual bool SharedPath(QString& path) = 0;
    virtual bool InstallPath(QString& path) = 0;
    virtual bool refresh() = 0;
    virtual bool DataPath(QString& path) = 0;
};
