#pragma once

#include <QString>

// Base of every outside component created by class identifier. A component reports each
// operation as success or failure; after a failure, LastError says why.
class Component
{
public:
    virtual ~Component() = default;
    virtual QString LastError() const { return {}; }

protected:
    Component() = default;
    Component(const Component&) = default;
    Component& operator=(const Component&) = default;
};
