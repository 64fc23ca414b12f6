// The structures and constants of pe_format.hpp against mingw-w64's winnt.h and winver.h: this
// file has no code, only checks made when the Windows build compiles it.

#include <cstddef>

#include "pack/pe_format.hpp"
#include "platform/windows_api_win.hpp"

#include <winver.h>

namespace brevlo::pack {

#define BREVLO_SAME_FIELD(ours, theirs, field) \
  static_assert(offsetof(ours, field) == offsetof(theirs, field), #field)

static_assert(sizeof(DosHeader) == sizeof(IMAGE_DOS_HEADER));
BREVLO_SAME_FIELD(DosHeader, IMAGE_DOS_HEADER, e_lfanew);

static_assert(sizeof(FileHeader) == sizeof(IMAGE_FILE_HEADER));
BREVLO_SAME_FIELD(FileHeader, IMAGE_FILE_HEADER, NumberOfSections);
BREVLO_SAME_FIELD(FileHeader, IMAGE_FILE_HEADER, SizeOfOptionalHeader);

static_assert(sizeof(DataDirectory) == sizeof(IMAGE_DATA_DIRECTORY));
static_assert(sizeof(OptionalHeader64) == sizeof(IMAGE_OPTIONAL_HEADER64));
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, SizeOfCode);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, SizeOfInitializedData);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, AddressOfEntryPoint);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, ImageBase);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, SectionAlignment);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, FileAlignment);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, MajorSubsystemVersion);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, SizeOfImage);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, SizeOfHeaders);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, CheckSum);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, DllCharacteristics);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, SizeOfStackReserve);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
BREVLO_SAME_FIELD(OptionalHeader64, IMAGE_OPTIONAL_HEADER64, DataDirectory);

static_assert(sizeof(SectionHeader) == sizeof(IMAGE_SECTION_HEADER));
static_assert(offsetof(SectionHeader, VirtualSize) == offsetof(IMAGE_SECTION_HEADER, Misc));
BREVLO_SAME_FIELD(SectionHeader, IMAGE_SECTION_HEADER, VirtualAddress);
BREVLO_SAME_FIELD(SectionHeader, IMAGE_SECTION_HEADER, SizeOfRawData);
BREVLO_SAME_FIELD(SectionHeader, IMAGE_SECTION_HEADER, PointerToRawData);
BREVLO_SAME_FIELD(SectionHeader, IMAGE_SECTION_HEADER, Characteristics);

static_assert(sizeof(BaseRelocationBlock) == sizeof(IMAGE_BASE_RELOCATION));
BREVLO_SAME_FIELD(BaseRelocationBlock, IMAGE_BASE_RELOCATION, SizeOfBlock);

static_assert(sizeof(ResourceDirectory) == sizeof(IMAGE_RESOURCE_DIRECTORY));
BREVLO_SAME_FIELD(ResourceDirectory, IMAGE_RESOURCE_DIRECTORY, NumberOfNamedEntries);
BREVLO_SAME_FIELD(ResourceDirectory, IMAGE_RESOURCE_DIRECTORY, NumberOfIdEntries);
static_assert(sizeof(ResourceDirectoryEntry) == sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY));
static_assert(sizeof(ResourceDataEntry) == sizeof(IMAGE_RESOURCE_DATA_ENTRY));
BREVLO_SAME_FIELD(ResourceDataEntry, IMAGE_RESOURCE_DATA_ENTRY, Size);
BREVLO_SAME_FIELD(ResourceDataEntry, IMAGE_RESOURCE_DATA_ENTRY, CodePage);

static_assert(sizeof(FixedFileInfo) == sizeof(VS_FIXEDFILEINFO));
BREVLO_SAME_FIELD(FixedFileInfo, VS_FIXEDFILEINFO, dwFileVersionMS);
BREVLO_SAME_FIELD(FixedFileInfo, VS_FIXEDFILEINFO, dwProductVersionLS);
BREVLO_SAME_FIELD(FixedFileInfo, VS_FIXEDFILEINFO, dwFileSubtype);

static_assert(kDosMagic == IMAGE_DOS_SIGNATURE);
static_assert(kPeSignature == IMAGE_NT_SIGNATURE);
static_assert(kMachineAmd64 == IMAGE_FILE_MACHINE_AMD64);
static_assert(kPe32PlusMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC);
static_assert(kScnCntInitializedData == IMAGE_SCN_CNT_INITIALIZED_DATA);
static_assert(kScnMemRead == IMAGE_SCN_MEM_READ);
static_assert(kFixedFileInfoSignature == VS_FFI_SIGNATURE);
static_assert(kDirResource == IMAGE_DIRECTORY_ENTRY_RESOURCE);
static_assert(kDirSecurity == IMAGE_DIRECTORY_ENTRY_SECURITY);
static_assert(kDirBaseReloc == IMAGE_DIRECTORY_ENTRY_BASERELOC);

#undef BREVLO_SAME_FIELD

}  // namespace brevlo::pack
