#include "import_hook.h"

#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

namespace {

struct Search {
    std::string path;
    const char* function;
    void* replacement;
    bool done;
};

bool patch(void** slot, void* replacement) {
    // The slot may lie in a part the loader made read-only after relocating (RELRO).
    const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    auto* page = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(slot) & ~(pageSize - 1));
    if (mprotect(page, pageSize, PROT_READ | PROT_WRITE) != 0) return false;
    *slot = replacement;
    return true;
}

int visit(dl_phdr_info* info, size_t, void* data) {
    auto& search = *static_cast<Search*>(data);
    std::error_code ignored;
    if (info->dlpi_name == nullptr || *info->dlpi_name == '\0' ||
        !std::filesystem::equivalent(info->dlpi_name, search.path, ignored))
        return 0;
    const ElfW(Dyn)* dynamic = nullptr;
    for (int i = 0; i < info->dlpi_phnum; ++i)
        if (info->dlpi_phdr[i].p_type == PT_DYNAMIC)
            dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
    if (dynamic == nullptr) return 1;

    // glibc may or may not have relocated these addresses in place.
    auto address = [&](ElfW(Addr) value) { return value < info->dlpi_addr ? value + info->dlpi_addr : value; };
    const ElfW(Sym)* symbols = nullptr;
    const char* names = nullptr;
    const ElfW(Rela) * tables[2] = {nullptr, nullptr};
    std::size_t sizes[2] = {0, 0};
    for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d) {
        switch (d->d_tag) {
        case DT_SYMTAB: symbols = reinterpret_cast<const ElfW(Sym)*>(address(d->d_un.d_ptr)); break;
        case DT_STRTAB: names = reinterpret_cast<const char*>(address(d->d_un.d_ptr)); break;
        case DT_JMPREL: tables[0] = reinterpret_cast<const ElfW(Rela)*>(address(d->d_un.d_ptr)); break;
        case DT_PLTRELSZ: sizes[0] = d->d_un.d_val; break;
        case DT_RELA: tables[1] = reinterpret_cast<const ElfW(Rela)*>(address(d->d_un.d_ptr)); break;
        case DT_RELASZ: sizes[1] = d->d_un.d_val; break;
        default: break;
        }
    }
    if (symbols == nullptr || names == nullptr) return 1;
    for (int t = 0; t < 2; ++t) {
        for (std::size_t i = 0; tables[t] != nullptr && i < sizes[t] / sizeof(ElfW(Rela)); ++i) {
            const ElfW(Rela)& rela = tables[t][i];
            const auto type = ELF64_R_TYPE(rela.r_info);
            if (type != R_X86_64_JUMP_SLOT && type != R_X86_64_GLOB_DAT) continue;
            if (std::strcmp(names + symbols[ELF64_R_SYM(rela.r_info)].st_name, search.function) != 0) continue;
            search.done =
                patch(reinterpret_cast<void**>(info->dlpi_addr + rela.r_offset), search.replacement) || search.done;
        }
    }
    return 1;
}

}  // namespace

bool replaceImport(const std::string& modulePath, const char* function, void* replacement) {
    Search search{modulePath, function, replacement, false};
    dl_iterate_phdr(visit, &search);
    return search.done;
}
