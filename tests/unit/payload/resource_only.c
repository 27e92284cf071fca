/* The failure modules carry nothing but resources. */
int pivora_resource_only_module;
