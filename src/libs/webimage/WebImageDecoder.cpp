#include "webimage/WebImageDecoder.h"

#include "platform/dispatch/Queue.h"
#include "webimage/ImageForceDecode.h"

std::shared_ptr<WebImageDecoder> WebImageDecoder::sharedImageDecoder() {
  // A function-local static is made once even when threads race for it; never destroyed.
  static auto* decoder = new std::shared_ptr<WebImageDecoder>(new WebImageDecoder());
  return *decoder;
}

WebImageDecoder::WebImageDecoder()
    : imageDecodingQueue_(platform::OperationQueue::create("webimage.decoder")) {
  imageDecodingQueue_->setMaxConcurrentOperationCount(1);
}

void WebImageDecoder::decodeImage(std::shared_ptr<platform::Image> image,
                                  std::shared_ptr<WebImageDecoderDelegate> delegate,
                                  platform::Value userInfo) {
  imageDecodingQueue_->addOperation(
      [image = std::move(image), delegate = std::move(delegate), userInfo = std::move(userInfo)] {
        auto decoded = ImageForceDecode::decodedImageWithImage(image);
        if (!decoded) decoded = image;
        platform::dispatch::Queue::main()->async([decoded, delegate, userInfo] {
          if (delegate)
            delegate->imageDecoderDidFinishDecodingImage(*sharedImageDecoder(), decoded, userInfo);
        });
      });
}
