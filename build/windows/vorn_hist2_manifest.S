/*
 * Resource section of the Windows plug-ins: one resource, the runtime
 * manifest, as type 24 (RT_MANIFEST), id 2 (ISOLATIONAWARE_MANIFEST_RESOURCE_ID),
 * language 1033 (US English), code page 1252. Written out here rather than
 * by windres, which records code page 0 for every resource.
 *
 * MANIFEST_FILE names the manifest to embed. Each directory is a 16-byte
 * header followed by one 8-byte entry: an id and the offset of what it
 * leads to, from the start of the section, with the top bit set for a
 * subdirectory. The data entry holds the manifest's image-relative address.
 */
    .section .rsrc, "dr"
    .p2align 2
root:
    .long 0, 0                      /* characteristics, time stamp */
    .short 0, 0                     /* version */
    .short 0, 1                     /* entries by name, by id */
    .long 24, 0x80000000 + (type_24 - root)
type_24:
    .long 0, 0
    .short 0, 0
    .short 0, 1
    .long 2, 0x80000000 + (id_2 - root)
id_2:
    .long 0, 0
    .short 0, 0
    .short 0, 1
    .long 1033, data_entry - root
data_entry:
    .rva manifest
    .long manifest_end - manifest
    .long 1252                      /* code page */
    .long 0
manifest:
    .incbin MANIFEST_FILE
manifest_end:
