// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/nt_standin.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace orbvex {
namespace {

constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorInvalidServiceControl = 1052;
constexpr std::uint32_t kMapSize = 8192;
constexpr std::uint32_t kRecordSize = 12;

// The device's three requests; the driver side knows them by value, as a driver would.
constexpr std::uint32_t kCodeSetByte = 0xF1002444;
constexpr std::uint32_t kCodeGetByte = 0xF1002448;
constexpr std::uint32_t kCodeActivate = 0xF1002480;

// Service names, file names and device paths are compared without regard to case.
std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string FileNameOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// A null text is recorded as "(null)".
std::string Text(const char* text) { return text ? text : "(null)"; }

bool IsKqiopmDriverFile(const std::string& binaryPath) {
    return Lower(FileNameOf(binaryPath)) == "kqiopm.sys";
}

}  // namespace

NtStandIn::NtStandIn() {
    map_.fill(0xFF);
    processMap_.fill(0xFF);
}

// --- set-up and inspection ---

void NtStandIn::FailDeviceRequest(int n, std::uint32_t error) {
    failRequestIn_ = n;
    failRequestError_ = error;
}

void NtStandIn::AddService(const std::string& name, const std::string& binaryPath,
                           ServiceState state) {
    if (state == ServiceState::Absent) {
        services_.erase(Lower(name));
        return;
    }
    Service service;
    service.binaryPath = binaryPath;
    service.running = state == ServiceState::Running;
    services_[Lower(name)] = service;
}

void NtStandIn::EndProcess() {
    std::vector<std::string> services;
    for (const auto& entry : handles_)
        if (entry.second.kind == HandleKind::Service) services.push_back(entry.second.service);
    handles_.clear();
    for (const std::string& name : services) ForgetIfDeleted(name);
    processMap_.fill(0xFF);
}

NtStandIn::ServiceState NtStandIn::StateOf(const std::string& name) const {
    auto it = services_.find(Lower(name));
    if (it == services_.end()) return ServiceState::Absent;
    return it->second.running ? ServiceState::Running : ServiceState::Stopped;
}

std::string NtStandIn::BinaryPathOf(const std::string& name) const {
    auto it = services_.find(Lower(name));
    return it == services_.end() ? std::string() : it->second.binaryPath;
}

bool NtStandIn::DriverRunning() const {
    return std::any_of(services_.begin(), services_.end(), [](const auto& entry) {
        return entry.second.running && IsKqiopmDriverFile(entry.second.binaryPath);
    });
}

bool NtStandIn::ProcessMayAccess(std::uint16_t port) const {
    return (processMap_[port >> 3] & (1u << (port & 7))) == 0;
}

int NtStandIn::CountCalls(const std::string& name) const {
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), name));
}

void NtStandIn::ClearRecord() {
    calls_.clear();
    ioRequests_.clear();
    lastNumbers_.clear();
    lastTexts_.clear();
}

std::vector<std::uint32_t> NtStandIn::LastNumbers(const std::string& name) const {
    auto it = lastNumbers_.find(name);
    return it == lastNumbers_.end() ? std::vector<std::uint32_t>() : it->second;
}

std::vector<std::string> NtStandIn::LastTexts(const std::string& name) const {
    auto it = lastTexts_.find(name);
    return it == lastTexts_.end() ? std::vector<std::string>() : it->second;
}

void NtStandIn::Record(const char* name, std::vector<std::uint32_t> numbers,
                       std::vector<std::string> texts) {
    calls_.emplace_back(name);
    lastNumbers_[name] = std::move(numbers);
    lastTexts_[name] = std::move(texts);
}

// --- bookkeeping ---

NtHandle NtStandIn::NewHandle(HandleKind kind, const std::string& service) {
    const NtHandle handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = Handle{kind, service};
    return handle;
}

const NtStandIn::Handle* NtStandIn::Find(NtHandle handle, HandleKind kind) const {
    auto it = handles_.find(handle);
    return it != handles_.end() && it->second.kind == kind ? &it->second : nullptr;
}

NtStandIn::Service* NtStandIn::ServiceOf(NtHandle handle) {
    const Handle* h = Find(handle, HandleKind::Service);
    if (!h) return nullptr;
    auto it = services_.find(h->service);
    return it == services_.end() ? nullptr : &it->second;
}

bool NtStandIn::Fail(std::uint32_t error) {
    lastError_ = error;
    return false;
}

NtHandle NtStandIn::FailHandle(std::uint32_t error, NtHandle value) {
    lastError_ = error;
    return value;
}

// A service marked for deletion goes once it has stopped and no handle names it.
void NtStandIn::ForgetIfDeleted(const std::string& name) {
    auto it = services_.find(name);
    if (it == services_.end() || !it->second.markedForDelete || it->second.running) return;
    for (const auto& entry : handles_)
        if (entry.second.kind == HandleKind::Service && entry.second.service == name) return;
    services_.erase(it);
}

// --- the service control manager ---

NtHandle NtStandIn::OpenSCManagerA(const char* machine, const char* database,
                                   std::uint32_t access) {
    Record("OpenSCManagerA", {access}, {Text(machine), Text(database)});
    if (!scmAvailable_) return FailHandle(nt::kErrorAccessDenied, 0);
    return NewHandle(HandleKind::ServiceManager);
}

NtHandle NtStandIn::CreateServiceA(NtHandle scm, const char* serviceName,
                                   const char* displayName, std::uint32_t access,
                                   std::uint32_t serviceType, std::uint32_t startType,
                                   std::uint32_t errorControl, const char* binaryPath,
                                   const char* loadOrderGroup, std::uint32_t* tagId,
                                   const char* dependencies, const char* account,
                                   const char* password) {
    Record("CreateServiceA", {access, serviceType, startType, errorControl, tagId ? 1u : 0u},
           {Text(serviceName), Text(displayName), Text(binaryPath), Text(loadOrderGroup),
            Text(dependencies), Text(account), Text(password)});
    if (!Find(scm, HandleKind::ServiceManager)) return FailHandle(nt::kErrorInvalidHandle, 0);
    const std::string name = Lower(serviceName ? serviceName : "");
    auto it = services_.find(name);
    if (it != services_.end())
        return FailHandle(it->second.markedForDelete ? nt::kErrorServiceMarkedForDelete
                                                     : nt::kErrorServiceExists,
                          0);
    services_[name].binaryPath = binaryPath ? binaryPath : "";
    return NewHandle(HandleKind::Service, name);
}

NtHandle NtStandIn::OpenServiceA(NtHandle scm, const char* serviceName,
                                 std::uint32_t access) {
    Record("OpenServiceA", {access}, {Text(serviceName)});
    if (!Find(scm, HandleKind::ServiceManager)) return FailHandle(nt::kErrorInvalidHandle, 0);
    const std::string name = Lower(serviceName ? serviceName : "");
    if (!services_.count(name)) return FailHandle(nt::kErrorServiceDoesNotExist, 0);
    return NewHandle(HandleKind::Service, name);
}

bool NtStandIn::StartServiceA(NtHandle service, std::uint32_t argCount, const char** args) {
    Record("StartServiceA", {argCount}, {args ? Text(args[0]) : "(no vector)"});
    Service* s = ServiceOf(service);
    if (!s) return Fail(nt::kErrorInvalidHandle);
    if (s->markedForDelete) return Fail(nt::kErrorServiceMarkedForDelete);
    if (s->running) return Fail(nt::kErrorServiceAlreadyRunning);
    if (!driverFilePresent_) return Fail(nt::kErrorFileNotFound);
    s->running = true;
    // A freshly loaded driver starts with every port forbidden.
    if (IsKqiopmDriverFile(s->binaryPath)) map_.fill(0xFF);
    return true;
}

bool NtStandIn::ControlService(NtHandle service, std::uint32_t control,
                               nt::ServiceStatus* status) {
    Record("ControlService", {control});
    Service* s = ServiceOf(service);
    if (!s) return Fail(nt::kErrorInvalidHandle);
    if (control != nt::kServiceControlStop) return Fail(kErrorInvalidServiceControl);
    if (!s->running) return Fail(nt::kErrorServiceNotActive);
    s->running = false;
    if (status) std::memset(status, 0, sizeof *status);
    ForgetIfDeleted(Find(service, HandleKind::Service)->service);
    return true;
}

bool NtStandIn::DeleteService(NtHandle service) {
    Record("DeleteService");
    Service* s = ServiceOf(service);
    if (!s) return Fail(nt::kErrorInvalidHandle);
    if (s->markedForDelete) return Fail(nt::kErrorServiceMarkedForDelete);
    s->markedForDelete = true;
    return true;
}

bool NtStandIn::CloseServiceHandle(NtHandle handle) {
    Record("CloseServiceHandle");
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.kind == HandleKind::Device)
        return Fail(nt::kErrorInvalidHandle);
    const std::string service = it->second.service;
    handles_.erase(it);
    if (!service.empty()) ForgetIfDeleted(service);
    return true;
}

// --- the driver's device ---

NtHandle NtStandIn::CreateFileA(const char* fileName, std::uint32_t access,
                                std::uint32_t shareMode, void* security,
                                std::uint32_t disposition, std::uint32_t flags,
                                NtHandle templateFile) {
    Record("CreateFileA",
           {access, shareMode, security ? 1u : 0u, disposition, flags,
            static_cast<std::uint32_t>(templateFile)},
           {Text(fileName)});
    if (Lower(fileName ? fileName : "") != "\\\\.\\kqiopm" || !DriverRunning())
        return FailHandle(nt::kErrorFileNotFound, kNtInvalidHandle);
    if (deviceRefused_) return FailHandle(nt::kErrorAccessDenied, kNtInvalidHandle);
    const bool deviceOpen = std::any_of(handles_.begin(), handles_.end(), [](const auto& e) {
        return e.second.kind == HandleKind::Device;
    });
    if (deviceOpen && shareMode == 0) return FailHandle(kErrorSharingViolation, kNtInvalidHandle);
    return NewHandle(HandleKind::Device);
}

bool NtStandIn::DeviceIoControl(NtHandle device, std::uint32_t code, const void* in,
                                std::uint32_t inSize, void* out, std::uint32_t outSize,
                                std::uint32_t* bytesReturned, void*) {
    Record("DeviceIoControl", {code, inSize, outSize});
    if (!Find(device, HandleKind::Device) || !DriverRunning())
        return Fail(nt::kErrorInvalidHandle);
    if (inSize < kRecordSize || outSize < kRecordSize || !in || !out)
        return Fail(nt::kErrorInsufficientBuffer);
    std::uint32_t request[3];
    std::memcpy(request, in, kRecordSize);
    ioRequests_.push_back(IoRequest{code, request[0], request[1]});
    if (failRequestIn_ >= 0 && failRequestIn_-- == 0) return Fail(failRequestError_);
    std::uint32_t reply[3] = {0, 0, 0};
    if (!AnswerRequest(code, request, reply)) return false;
    std::memcpy(out, reply, kRecordSize);
    if (bytesReturned) *bytesReturned = kRecordSize;
    return true;
}

bool NtStandIn::AnswerRequest(std::uint32_t code, const std::uint32_t* request,
                              std::uint32_t* reply) {
    switch (code) {
    case kCodeSetByte:
        if (request[0] >= kMapSize) return Fail(nt::kErrorInvalidParameter);
        map_[request[0]] = static_cast<std::uint8_t>(request[1]);
        return true;
    case kCodeGetByte:
        if (request[0] >= kMapSize) return Fail(nt::kErrorInvalidParameter);
        reply[1] = map_[request[0]];
        return true;
    case kCodeActivate: {
        processMap_ = map_;
        std::uint32_t allowed = 0;  // what this driver passes back: ports now allowed
        for (std::uint32_t port = 0; port < kMapSize * 8; ++port)
            allowed += ProcessMayAccess(static_cast<std::uint16_t>(port)) ? 1 : 0;
        reply[0] = allowed;
        return true;
    }
    default:
        return Fail(nt::kErrorInvalidFunction);
    }
}

bool NtStandIn::CloseHandle(NtHandle handle) {
    Record("CloseHandle");
    if (!Find(handle, HandleKind::Device)) return Fail(nt::kErrorInvalidHandle);
    handles_.erase(handle);
    return true;
}

// --- the version query ---

bool NtStandIn::GetVersionExA(nt::OsVersionInfoA* info) {
    Record("GetVersionExA");
    // The system accepts the plain record (148 bytes) and the extended one (156).
    if (!info || (info->osVersionInfoSize != 148 && info->osVersionInfoSize != 156))
        return Fail(nt::kErrorInsufficientBuffer);
    const bool nt = platformId_ == nt::kPlatformWin32Nt;
    info->majorVersion = nt ? 5 : 4;
    info->minorVersion = nt ? 1 : 10;
    info->buildNumber = nt ? 2600 : 2222;
    info->platformId = platformId_;
    std::memset(info->csdVersion, 0, sizeof info->csdVersion);
    return true;
}

}  // namespace orbvex
