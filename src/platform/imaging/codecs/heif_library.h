#pragma once

// The libheif functions this layer calls, opened on first use (see lazy_library.h).

#include <libheif/heif.h>

#include "platform/imaging/codecs/lazy_library.h"

namespace calvoro::imaging::detail {

#define HEIFLIBRARY_FUNCTIONS(X) \
    X(heif_context_add_XMP_metadata) \
    X(heif_context_add_exif_metadata) \
    X(heif_context_alloc) \
    X(heif_context_encode_image) \
    X(heif_context_free) \
    X(heif_context_get_encoder_for_format) \
    X(heif_context_get_number_of_top_level_images) \
    X(heif_context_get_primary_image_handle) \
    X(heif_context_read_from_memory_without_copy) \
    X(heif_context_set_max_decoding_threads) \
    X(heif_context_write) \
    X(heif_decode_image) \
    X(heif_encoder_release) \
    X(heif_encoder_set_lossy_quality) \
    X(heif_encoding_options_alloc) \
    X(heif_encoding_options_free) \
    X(heif_have_encoder_for_format) \
    X(heif_image_add_plane) \
    X(heif_image_create) \
    X(heif_image_get_height) \
    X(heif_image_get_plane) \
    X(heif_image_get_plane_readonly) \
    X(heif_image_get_width) \
    X(heif_image_handle_get_color_profile_type) \
    X(heif_image_handle_get_height) \
    X(heif_image_handle_get_chroma_bits_per_pixel) \
    X(heif_image_handle_get_list_of_metadata_block_IDs) \
    X(heif_image_handle_get_luma_bits_per_pixel) \
    X(heif_image_handle_get_metadata) \
    X(heif_image_handle_get_metadata_content_type) \
    X(heif_image_handle_get_metadata_size) \
    X(heif_image_handle_get_metadata_type) \
    X(heif_image_handle_get_nclx_color_profile) \
    X(heif_image_handle_get_raw_color_profile) \
    X(heif_image_handle_get_raw_color_profile_size) \
    X(heif_image_handle_get_width) \
    X(heif_image_handle_has_alpha_channel) \
    X(heif_image_handle_release) \
    X(heif_image_release) \
    X(heif_image_set_raw_color_profile) \
    X(heif_nclx_color_profile_free) \
    X(heif_register_decoder)

CALVORO_LAZY_LIBRARY(HeifLibrary, loadHeifLibrary, HEIFLIBRARY_FUNCTIONS, "libheif.so.1")

// The table, or the error that the library is not installed.
inline const HeifLibrary& heif() { return requireTable(loadHeifLibrary(), "libheif"); }

}  // namespace calvoro::imaging::detail
