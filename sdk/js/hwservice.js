// hwservice.js: the ES module form of the client of hwservice.
//   import { HwService, HwServiceError } from "./hwservice.js";
// The code is hwservice.global.js, which classic <script> pages load
// directly; importing it here runs it once (it also sets the two globals).
import "./hwservice.global.js";

export const HwService = globalThis.HwService;
export const HwServiceError = globalThis.HwServiceError;
