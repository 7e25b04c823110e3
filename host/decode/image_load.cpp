#include "decode/image_load.h"

#include <string>

#include "decode/byte_reader.h"

namespace qorvex::decode {

ImageLoadEvent DecodeImageLoadEvent(std::span<const std::uint8_t> data) {
    ImageLoadEvent image;
    ByteReader reader(data);
    image.headerRead = reader.U64(image.imageLocation) && reader.U64(image.imageLength) &&
                       reader.U64(image.linkTimeAddress) && reader.U64(image.devicePathLength);
    if (!image.headerRead) {
        image.malformed = Malformed{"the image load event's header is 32 bytes; the data holds " +
                                        std::to_string(data.size()),
                                    0, data};
        return image;
    }
    std::span<const std::uint8_t> paths;
    if (!reader.Take(image.devicePathLength, paths)) {
        image.malformed =
            Malformed{"the device path says " + std::to_string(image.devicePathLength) +
                          " bytes; " + std::to_string(reader.remaining()) + " follow",
                      reader.offset(), data};
        paths = reader.Rest();
    } else if (!reader.AtEnd()) {
        image.malformed =
            Malformed{std::to_string(reader.remaining()) + " bytes follow the device path",
                      reader.offset(), data};
    }
    image.devicePaths = DecodeDevicePaths(paths);
    return image;
}

Node Describe(const ImageLoadEvent& image) {
    Node node = Node::Object();
    if (image.headerRead) {
        node.Add("imageLocation", Node::Hex(image.imageLocation))
            .Add("imageLength", Node::Number(image.imageLength))
            .Add("linkTimeAddress", Node::Hex(image.linkTimeAddress))
            .Add("devicePathLength", Node::Number(image.devicePathLength));
        AddDevicePaths(node, image.devicePaths);
    }
    node.AddMalformed(image.malformed ? &*image.malformed : nullptr);
    return node;
}

}  // namespace qorvex::decode
