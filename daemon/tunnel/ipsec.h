// IPsec (EAP) driver, and the two values of the IPsec configuration that it sets: the EAP identity
// and the peer.
#pragma once
#include <cstdint>
#include <string>
#include "cloud/node.h"
#include "config/client_record.h"

uint32_t ZNACC_IpsecUp(ClientRecord *client, AccNodeServer *node);
uint32_t ZNACC_IpsecDown();
uint32_t ZNACC_IpsecState();

// Rewrites every line holding "eap_identity=" so that it ends "eap_identity=IDENTITY", and every
// other line holding "right=" so that it ends "right=RIGHT" (the text before the first key stays);
// all other lines stay byte for byte. False when the text lacks either kind of line.
bool ZND_IpsecConfRewrite(const std::string &in, const char *identity, const char *right, std::string *out);