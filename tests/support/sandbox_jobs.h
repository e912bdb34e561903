// Jobs made in the sandbox's scheduler behind the adapter's back, as an
// earlier run cut short leaves them. Includes <cups/cups.h>: only for test
// programs that link libcups.
#pragma once

#include <cups/cups.h>

#include <string>

namespace sandbox {

// A job on queue named jobName that never gets a document (Create-Job and
// nothing after), as a sender killed before its first byte leaves it; its
// id, or 0 when the scheduler refused.
inline int CreateDocumentlessJob(const std::string& queue, const std::string& jobName) {
    ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
    const std::string uri = "ipp://localhost/printers/" + queue;
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, jobName.c_str());
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");  // frees request
    ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
    const int job = id != nullptr ? ippGetInteger(id, 0) : 0;
    ippDelete(response);
    return job;
}

}  // namespace sandbox
