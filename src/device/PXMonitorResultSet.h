#pragma once

#include <cstdint>
#include <string>

// What a monitor hands over at the end of a run; the result list writes these fields as the
// wrapper of a monitor result and resultJson() as its "monitorresult" member.
class PXMonitorResultSet
{
public:
    PXMonitorResultSet(std::int32_t id, std::string typeName)
        : id(id), typeName(std::move(typeName))
    {
    }
    virtual ~PXMonitorResultSet() = default;

    // The "monitorresult" body; a result set without samples of its own writes "{}".
    virtual std::string resultJson() const { return "{}"; }

    std::int32_t id;
    std::string typeName;
    std::int32_t status = 0; // 0 success, 1 error
    std::string errorMessage;
};
