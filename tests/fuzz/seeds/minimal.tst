[Template]
