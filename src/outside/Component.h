#pragma once

#include <QString>

// Base of every outside component created by class identifier. A component reports each
// operation as success or failure; after a failure, lastError says why.
class Component
{
public:
    virtual ~Component() = default;
    virtual QString lastError() const { return {}; }

protected:
    Component() = default;
    Component(const Component&) = default;
    Component& operator=(const Component&) = default;
};
