// SPDX-License-Identifier: GPL-2.0-or-later
/*
 * kqiopm.sys: the port-permission driver of the 32-bit NT family.
 *
 * A user-mode process may execute IN and OUT only on the ports that the I/O
 * permission bitmap of its task state allows, and only kernel code can change that
 * bitmap. This driver keeps a map of all 65,536 ports (a set bit denies, a clear bit
 * allows; every port denied when it starts), lets the program edit it a byte at a
 * time, and applies it to the calling process on request.
 *
 * Requests are buffered device-control calls carrying three 32-bit words in and out:
 *   map write  word 0 = byte index, word 1 = the byte to store
 *   map read   word 0 = byte index; the reply's word 1 holds the byte
 *   activate   all words 0; the map becomes the calling process's permission map
 * Anything else, or any other buffer size, is refused with STATUS_INVALID_PARAMETER.
 *
 * The kernel routines that install a permission map exist only in 32-bit x86 kernels
 * and are not part of the documented interface, so they are looked up by name when the
 * driver loads. Where they are missing (a 64-bit kernel, an emulator) activation is
 * refused with STATUS_NOT_SUPPORTED, which the program sees as a plain error number.
 *
 * Every request runs at PASSIVE_LEVEL in the caller's context, touches only the map
 * (a static array, never paged out) and the request's own system buffer, and
 * allocates nothing.
 */
#include <ntddk.h>

#define KQIOPM_DEVICE_TYPE 0xF100
#define KQIOPM_SET_BYTE CTL_CODE(KQIOPM_DEVICE_TYPE, 0x911, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define KQIOPM_GET_BYTE CTL_CODE(KQIOPM_DEVICE_TYPE, 0x912, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define KQIOPM_ACTIVATE CTL_CODE(KQIOPM_DEVICE_TYPE, 0x920, METHOD_BUFFERED, FILE_ANY_ACCESS)

#define KQIOPM_RECORD_BYTES 12
#define KQIOPM_MAP_BYTES (65536 / 8)

/* The map slot of the task state that holds a process's own permissions; slot 0
   means "no port allowed" to the kernel routines. */
#define KQIOPM_MAP_SLOT 1

typedef struct {
    ULONG Word[3];
} KQIOPM_RECORD;

typedef BOOLEAN(NTAPI* SET_IO_ACCESS_MAP)(ULONG MapNumber, PVOID Map);
typedef BOOLEAN(NTAPI* IO_SET_ACCESS_PROCESS)(PEPROCESS Process, ULONG MapNumber);

static UCHAR Map[KQIOPM_MAP_BYTES];
static SET_IO_ACCESS_MAP SetIoAccessMap;
static IO_SET_ACCESS_PROCESS IoSetAccessProcess;
static PDEVICE_OBJECT Device;

static const WCHAR DeviceName[] = L"\\Device\\kqiopm";
static const WCHAR LinkName[] = L"\\DosDevices\\kqiopm";

static PVOID LookUp(PCWSTR name) {
    UNICODE_STRING routine;
    RtlInitUnicodeString(&routine, name);
    return MmGetSystemRoutineAddress(&routine);
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS Activate(KQIOPM_RECORD* reply) {
    if (!SetIoAccessMap || !IoSetAccessProcess) return STATUS_NOT_SUPPORTED;
    if (!SetIoAccessMap(KQIOPM_MAP_SLOT, Map)) return STATUS_UNSUCCESSFUL;
    if (!IoSetAccessProcess(PsGetCurrentProcess(), KQIOPM_MAP_SLOT)) return STATUS_UNSUCCESSFUL;
    reply->Word[0] = KQIOPM_MAP_SLOT;
    return STATUS_SUCCESS;
}

/* One request: the record is read whole before the reply overwrites the same buffer. */
static NTSTATUS Serve(ULONG code, KQIOPM_RECORD* buffer) {
    const KQIOPM_RECORD request = *buffer;
    RtlZeroMemory(buffer, sizeof *buffer);
    switch (code) {
    case KQIOPM_SET_BYTE:
        if (request.Word[0] >= KQIOPM_MAP_BYTES) return STATUS_INVALID_PARAMETER;
        Map[request.Word[0]] = (UCHAR)request.Word[1];
        return STATUS_SUCCESS;
    case KQIOPM_GET_BYTE:
        if (request.Word[0] >= KQIOPM_MAP_BYTES) return STATUS_INVALID_PARAMETER;
        buffer->Word[1] = Map[request.Word[0]];
        return STATUS_SUCCESS;
    case KQIOPM_ACTIVATE:
        return Activate(buffer);
    default:
        return STATUS_INVALID_PARAMETER;
    }
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    NTSTATUS status;
    (void)device;
    if (inSize != KQIOPM_RECORD_BYTES || outSize != KQIOPM_RECORD_BYTES || !irp->AssociatedIrp.SystemBuffer)
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    status = Serve(stack->Parameters.DeviceIoControl.IoControlCode, irp->AssociatedIrp.SystemBuffer);
    return Complete(irp, status, NT_SUCCESS(status) ? KQIOPM_RECORD_BYTES : 0);
}

static NTSTATUS NTAPI DispatchOpenClose(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    (void)driver;
    /* A process left holding the map loses it with the driver. */
    RtlFillMemory(Map, sizeof Map, 0xFF);
    if (SetIoAccessMap) SetIoAccessMap(KQIOPM_MAP_SLOT, Map);
    RtlInitUnicodeString(&link, LinkName);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(Device);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING name, link;
    NTSTATUS status;
    (void)registryPath;

    RtlFillMemory(Map, sizeof Map, 0xFF);
    SetIoAccessMap = (SET_IO_ACCESS_MAP)LookUp(L"Ke386SetIoAccessMap");
    IoSetAccessProcess = (IO_SET_ACCESS_PROCESS)LookUp(L"Ke386IoSetAccessProcess");

    RtlInitUnicodeString(&name, DeviceName);
    status = IoCreateDevice(driver, 0, &name, KQIOPM_DEVICE_TYPE, 0, FALSE, &Device);
    if (!NT_SUCCESS(status)) return status;
    RtlInitUnicodeString(&link, LinkName);
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(Device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
